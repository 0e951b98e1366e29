#include "CommandLine.h"

#include "Numbers.h"

namespace ramtidy {

std::u16string ArgumentText(std::u16string_view command_line) {
    size_t i = 0;
    if (!command_line.empty() && command_line[0] == u'"') {
        size_t close = command_line.find(u'"', 1);
        i = close == std::u16string_view::npos ? command_line.size() : close + 1;
    } else {
        while (i < command_line.size() && command_line[i] != u' ' && command_line[i] != u'\t')
            ++i;
    }
    while (i < command_line.size() && (command_line[i] == u' ' || command_line[i] == u'\t'))
        ++i;
    return std::u16string(command_line.substr(i));
}

std::u16string TrimBlanks(std::u16string_view text) {
    size_t first = text.find_first_not_of(u' ');
    if (first == std::u16string_view::npos)
        return std::u16string();
    size_t last = text.find_last_not_of(u' ');
    return std::u16string(text.substr(first, last - first + 1));
}

SplitArguments SplitCommandLine(std::u16string_view arguments) {
    SplitArguments out;
    std::u16string text = TrimBlanks(arguments);
    if (text.empty())
        return out;
    size_t blank = text.find(u' ');
    if (blank == std::u16string::npos) {
        out.kind = SplitArguments::Kind::NoBlank;
        return out;
    }
    // blank is the 0-based index; the first blank can't be at index 0 after trimming.
    if (blank == 1) {
        out.kind = SplitArguments::Kind::BlankAtTwo;
        return out;
    }
    out.kind = SplitArguments::Kind::Ok;
    out.handle_text = text.substr(2, blank - 2);
    out.switch_text = text.substr(blank + 1);
    return out;
}

int64_t MascotHandleOf(const SplitArguments& split, int handle_bits) {
    const double number = ReadNumber(split.handle_text);
    const char* what = "The mascot window handle";
    return handle_bits == 64 ? RoundToInt64(number, what) : RoundToInt32(number, what);
}

}  // namespace ramtidy
