// UTF-16 text as the system hands it over, made safe to convert. Pure: compiled into the
// library and natively for the tests.
#ifndef MKHOOK_UTF16_H
#define MKHOOK_UTF16_H

// Replaces every surrogate in the zero-terminated string at `text` that is not half of a
// pair (NTFS takes such names, and no code page has a form for them) with `replacement`.
// Returns how many were replaced.
unsigned MkReplaceUnpairedSurrogates(char16_t* text, char16_t replacement);

#endif
