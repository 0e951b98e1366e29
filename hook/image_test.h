// The test that tells a mascot host by the image name of its process.
// Pure: compiled into the library and natively for the tests.
//
// The name is tested as the system keeps it, in UTF-16, character by character: a name that the
// ANSI code page cannot write is not turned into a look-alike first (Windows' best-fit would
// make a full-width "ｓａｋｕｒａ.exe" read as "sakura.exe" on Western systems), and no
// character can lend part of itself to a match (in Shift_JIS the second byte of "ピ" is an
// "s", so "ピakura.exe" held "sakura.exe" byte for byte).
#ifndef MKHOOK_IMAGE_TEST_H
#define MKHOOK_IMAGE_TEST_H

// Turns "A"-"Z" into "a"-"z" in place in the zero-terminated UTF-16 string at `path` (at most
// `capacity` units are looked at). Every other character stays as it is.
void MkLowerImagePath(char16_t* path, unsigned capacity);

// Whether the zero-terminated UTF-16 string at `path` (at most `capacity` units) contains the
// ASCII text `needle`, compared character for character and case-sensitively.
bool MkImagePathContains(const char16_t* path, unsigned capacity, const char* needle);

// The two kinds of mascot host, by the lower-cased image path.
bool MkIsFirstKindHost(const char16_t* lowerPath, unsigned capacity);  // "sakura.exe", "embryo.exe"
bool MkIsSecondKindHost(const char16_t* lowerPath, unsigned capacity);  // "ssp.exe"

#endif
