// What the plug-in has the mascot say, and the SSTP request that carries it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace ramtidy {

// Byte counts as the memory status gives them (64-bit, so that machines with more than
// 4 GB report their real figures) to the whole units the scripts use, rounded half to even.
// A figure that does not fit a signed 32-bit integer throws RuntimeError(Overflow).
int32_t MegabytesOf(uint64_t bytes);
int32_t KilobytesOf(uint64_t bytes);

// Free share in percent from the rounded megabyte figures. A total of 0 MB throws
// RuntimeError(DivisionByZero).
int32_t FreeShareOf(int32_t free_mb, int32_t total_mb);

// The comment for a free share from 0 to 100; empty outside that range.
std::u16string MemoryComment(int32_t free_share);

// The memory status report. \n and \e are two-character script tags, not control characters.
std::u16string MemoryStatusScript(int32_t total_mb, int32_t free_mb, int32_t free_share);

// The cleaning run's report, figures in kilobytes.
std::u16string CleanReportScript(int32_t total_kb, int32_t free_before_kb, int32_t free_after_kb);

// The SSTP/1.5 request: five lines, each ended by CR LF, nothing after the last.
// `sender` is the status window's handle as a signed value of the handle's width.
std::u16string SstpRequest(const std::u16string& script, int64_t sender);

// The text of a string value from the bytes the registry handed over: whole UTF-16 units up to
// the first zero unit or the end. The registry promises neither a terminating zero nor an even
// byte count; an odd last byte belongs to no character.
std::u16string RegistryText(const uint8_t* bytes, size_t count);

// The saved "ShowWnd" text as a flag. Only "True" and "False" are written by the plug-in;
// any other text throws RuntimeError(TypeMismatch).
bool ShowWndFlagOf(const std::u16string& stored);

}  // namespace ramtidy
