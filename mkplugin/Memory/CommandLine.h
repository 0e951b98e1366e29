// The plug-in's command line: "<two characters><mascot window handle> <switch>", as the
// controller writes it, e.g. "MK1234 /MEMSTATUS".
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace ramtidy {

// The argument text of a full process command line (as GetCommandLineW gives it): everything
// after the program's path, which may be quoted, and the separating spaces or tabs.
std::u16string ArgumentText(std::u16string_view command_line);

struct SplitArguments {
    enum class Kind {
        Empty,       // nothing after trimming: end silently
        NoBlank,     // no blank: end silently
        BlankAtTwo,  // one character before the first blank: no room for the handle text
        Ok,
    };
    Kind kind = Kind::Empty;
    std::u16string handle_text;  // characters 3 to p-1 (may be empty)
    std::u16string switch_text;  // everything after the first blank, never empty
};

// Blanks are spaces (32) only; tabs are ordinary characters.
std::u16string TrimBlanks(std::u16string_view text);

// Trims the argument text and splits it at its first blank. The two leading characters are
// the controller's and are not examined.
SplitArguments SplitCommandLine(std::u16string_view arguments);

// The mascot window handle: the handle text read as a number and rounded half to even, at the
// width of the program's window handles (`handle_bits`, 32 or 64: the controller writes the
// handle as it has it). Throws RuntimeError(Overflow) when it does not fit a signed integer of
// that width.
int64_t MascotHandleOf(const SplitArguments& split, int handle_bits);

}  // namespace ramtidy
