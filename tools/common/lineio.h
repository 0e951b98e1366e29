// Line-oriented input and output for the stand-ins: tests and the demo read what they print
// and drive them through their standard input.
#pragma once

#include <windows.h>

#include <string>

namespace mk::tools {

// Prints one line (UTF-8, "\n" added) to standard output and flushes it at once.
void Out(const std::string& line);
// printf-style formatting into a std::string.
std::string Format(const char* fmt, ...);

// Message posted to `hwnd` for each line read from standard input: lParam is a
// std::string* allocated with new, which the receiver deletes (TakeCommand does).
constexpr UINT WM_MK_STDIN_LINE = WM_APP + 0x100;
// Posted once when standard input ends.
constexpr UINT WM_MK_STDIN_EOF = WM_APP + 0x101;

// Starts a thread that reads standard input line by line and posts each line to `hwnd`.
void StartStdinReader(HWND hwnd);
std::string TakeCommand(LPARAM lParam);

// Splits a command line into words; "double quotes" group words with blanks.
std::string NextWord(std::string& rest);

}  // namespace mk::tools
