// Text conversions for the stand-ins: the suite speaks Shift_JIS (code page 932); the
// stand-ins print UTF-8.
#pragma once

#include <windows.h>

#include <string>

namespace mk::tools {

std::string SjisToUtf8(const std::string& sjis);
std::string Utf8ToSjis(const std::string& utf8);
std::wstring Utf8ToWide(const std::string& utf8);
std::string WideToUtf8(const std::wstring& wide);
std::string Hex(const void* data, size_t bytes);

// Prints the record of one SSTP request received in WM_COPYDATA: the line
//   COPYDATA to=<hwnd> from=<wParam> dwData=<n> cbData=<n> hex=<bytes>
// (handles as signed decimal) followed by the text, one "  | " line per CR LF line.
void LogCopyData(HWND to, WPARAM from, const COPYDATASTRUCT* cds);

}  // namespace mk::tools
