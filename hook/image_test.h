// The test that tells a mascot host by the image name of its process.
// Pure: compiled into the library and natively for the tests.
#ifndef MKHOOK_IMAGE_TEST_H
#define MKHOOK_IMAGE_TEST_H

// Turns "A"-"Z" into "a"-"z" in place in the zero-terminated string at `path` (at most
// `capacity` bytes are looked at). Both bytes of a Shift_JIS double-byte character stay as
// they are: its second byte can be a letter (0x41-0x5A), and lowering it would change the
// character and could even make a name match that does not.
void MkLowerImagePath(char* path, unsigned capacity);

// Byte-for-byte, case-sensitive substring test on a zero-terminated string of at most
// `capacity` bytes.
bool MkImagePathContains(const char* path, unsigned capacity, const char* needle);

// The two kinds of mascot host, by the lower-cased image path.
bool MkIsFirstKindHost(const char* lowerPath, unsigned capacity);   // "sakura.exe", "embryo.exe"
bool MkIsSecondKindHost(const char* lowerPath, unsigned capacity);  // "ssp.exe"

#endif
