/* The library's version: the one place it is kept. The resource script, the package name,
   INSTALL.txt, the numbers the tests expect and MKGetVersion's answer are all taken from here. */
#ifndef MKHOOK_VERSION_H
#define MKHOOK_VERSION_H

#define MKHOOK_VERSION_MAJOR 1
#define MKHOOK_VERSION_MINOR 6
#define MKHOOK_VERSION_PATCH 0
#define MKHOOK_VERSION_BUILD 0

/* What MKGetVersion answers: the controller compares against this number. */
#define MKHOOK_API_VERSION 120

#define MKHOOK_STR2(x) #x
#define MKHOOK_STR(x) MKHOOK_STR2(x)
#define MKHOOK_VERSION_TEXT                                                                      \
    MKHOOK_STR(MKHOOK_VERSION_MAJOR)                                                             \
    ", " MKHOOK_STR(MKHOOK_VERSION_MINOR) ", " MKHOOK_STR(MKHOOK_VERSION_PATCH) ", " MKHOOK_STR( \
        MKHOOK_VERSION_BUILD)

/* The resource's comment names the library's phase (its major and minor version) and the
   protocol revision it speaks; the version box shows later numbers of its own. */
#define MKHOOK_PROTOCOL_TEXT "MKP/1.2"
#define MKHOOK_COMMENTS_TEXT                                             \
    "mkhook.dll phase " MKHOOK_STR(MKHOOK_VERSION_MAJOR) "." MKHOOK_STR( \
        MKHOOK_VERSION_MINOR) " with " MKHOOK_PROTOCOL_TEXT

#endif
