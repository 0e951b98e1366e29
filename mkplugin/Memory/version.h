// The one place of ramtidy's version: read by ramtidy.rc, and by CMake for INSTALL.txt
// (cmake/Version.cmake).
#pragma once

#define RAMTIDY_VERSION_MAJOR 1
#define RAMTIDY_VERSION_MINOR 0
#define RAMTIDY_VERSION_PATCH 0
#define RAMTIDY_VERSION_BUILD 0
// The text form the version resource shows; the plug-in has always called itself "1.00".
#define RAMTIDY_VERSION_TEXT "1.00"
