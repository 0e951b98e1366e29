/* The library's version: the one place it is kept. The resource script, the package name
   and MKGetVersion's answer are all taken from here. */
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

#endif
