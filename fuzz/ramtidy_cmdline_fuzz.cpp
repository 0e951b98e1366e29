// Command-line split and handle reading over arbitrary UTF-16 text.
#include <cstdint>
#include <cstdlib>
#include <string>

#include "CommandLine.h"
#include "RuntimeError.h"

using namespace ramtidy;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::u16string line;
    for (size_t i = 0; i + 1 < size; i += 2)
        line += static_cast<char16_t>(data[i] | (data[i + 1] << 8));

    std::u16string args = ArgumentText(line);
    if (args.size() > line.size())
        abort();
    SplitArguments split = SplitCommandLine(args);
    std::u16string trimmed = TrimBlanks(args);
    switch (split.kind) {
        case SplitArguments::Kind::Empty:
            if (!trimmed.empty())
                abort();
            break;
        case SplitArguments::Kind::NoBlank:
            if (trimmed.find(u' ') != std::u16string::npos)
                abort();
            break;
        case SplitArguments::Kind::BlankAtTwo:
            if (trimmed.find(u' ') != 1)
                abort();
            break;
        case SplitArguments::Kind::Ok:
            // The two skipped characters, the handle text, one blank and the switch make up
            // the trimmed text again.
            if (split.switch_text.empty() || split.handle_text.find(u' ') != std::u16string::npos)
                abort();
            if (trimmed.substr(2) != split.handle_text + u" " + split.switch_text)
                abort();
            for (int bits : {32, 64}) {
                try {
                    int64_t handle = MascotHandleOf(split, bits);
                    if (bits == 32 && (handle < INT32_MIN || handle > INT32_MAX))
                        abort();
                } catch (const RuntimeError& e) {
                    if (e.code() != ErrorCode::Overflow)
                        abort();
                }
            }
            break;
    }
    return 0;
}
