#include "utf16.h"

namespace {

bool IsHigh(char16_t c) {
    return c >= 0xD800 && c <= 0xDBFF;
}

bool IsLow(char16_t c) {
    return c >= 0xDC00 && c <= 0xDFFF;
}

}  // namespace

unsigned MkReplaceUnpairedSurrogates(char16_t* text, char16_t replacement) {
    unsigned replaced = 0;
    for (; *text; ++text) {
        if (IsHigh(text[0]) && IsLow(text[1])) {
            ++text;  // a pair; the terminator is no low surrogate, so text[1] was there
        } else if (IsHigh(text[0]) || IsLow(text[0])) {
            *text = replacement;
            ++replaced;
        }
    }
    return replaced;
}
