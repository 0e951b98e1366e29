// SSTP request composition with arbitrary script text and sender handles.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

#include "Scripts.h"

using namespace ramtidy;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 8)
        return 0;
    int64_t sender;
    std::memcpy(&sender, data, 8);
    std::u16string script;
    for (size_t i = 8; i + 1 < size; i += 2)
        script += static_cast<char16_t>(data[i] | (data[i + 1] << 8));

    std::u16string r = SstpRequest(script, sender);
    const std::u16string head = u"SEND SSTP/1.5\r\nSender: Mirekko\r\nScript: ";
    const std::u16string tail = u"\r\nCharset: Shift_JIS\r\n";
    if (r.compare(0, head.size(), head) != 0)
        abort();
    if (r.compare(head.size(), script.size(), script) != 0)
        abort();
    if (r.size() < tail.size() || r.compare(r.size() - tail.size(), tail.size(), tail) != 0)
        abort();
    // The HWnd line: a blank before a handle that is not negative, the sign in its place.
    std::u16string hwnd = r.substr(head.size() + script.size());
    std::u16string expected = u"\r\nHWnd:";
    std::string digits = std::to_string(sender);
    expected += sender < 0 ? u"" : u" ";
    expected += std::u16string(digits.begin(), digits.end());
    if (hwnd != expected + tail)
        abort();

    int32_t a = static_cast<int32_t>(size), b = static_cast<int32_t>(sender);
    std::u16string report = CleanReportScript(b, a, b);
    if (report.size() < 4 || report.compare(report.size() - 4, 4, u"KB\\e") != 0)
        abort();
    if (MemoryStatusScript(b, a, b).find(MemoryComment(b)) == std::u16string::npos)
        abort();
    return 0;
}
