#include "text.h"

#include "lineio.h"

namespace mk::tools {
namespace {

std::string Convert(const std::string& in, UINT from, UINT to) {
    if (in.empty())
        return std::string();
    int wn = MultiByteToWideChar(from, 0, in.data(), static_cast<int>(in.size()), nullptr, 0);
    std::wstring w(wn, L'\0');
    MultiByteToWideChar(from, 0, in.data(), static_cast<int>(in.size()), &w[0], wn);
    int n = WideCharToMultiByte(to, 0, w.data(), wn, nullptr, 0, nullptr, nullptr);
    std::string out(n, '\0');
    WideCharToMultiByte(to, 0, w.data(), wn, &out[0], n, nullptr, nullptr);
    return out;
}

}  // namespace

std::string SjisToUtf8(const std::string& sjis) {
    return Convert(sjis, 932, CP_UTF8);
}
std::string Utf8ToSjis(const std::string& utf8) {
    return Convert(utf8, CP_UTF8, 932);
}

std::wstring Utf8ToWide(const std::string& utf8) {
    if (utf8.empty())
        return std::wstring();
    int n = MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), nullptr, 0);
    std::wstring w(n, L'\0');
    MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), &w[0], n);
    return w;
}
std::string WideToUtf8(const std::wstring& wide) {
    if (wide.empty())
        return std::string();
    int n = WideCharToMultiByte(CP_UTF8, 0, wide.data(), static_cast<int>(wide.size()), nullptr, 0,
                                nullptr, nullptr);
    std::string out(n, '\0');
    WideCharToMultiByte(CP_UTF8, 0, wide.data(), static_cast<int>(wide.size()), &out[0], n, nullptr,
                        nullptr);
    return out;
}

std::string Hex(const void* data, size_t bytes) {
    static const char digits[] = "0123456789abcdef";
    const unsigned char* p = static_cast<const unsigned char*>(data);
    std::string s;
    s.reserve(bytes * 2);
    for (size_t i = 0; i < bytes; ++i) {
        s += digits[p[i] >> 4];
        s += digits[p[i] & 15];
    }
    return s;
}

void LogCopyData(HWND to, WPARAM from, const COPYDATASTRUCT* cds) {
    std::string bytes;
    if (cds && cds->lpData && cds->cbData)
        bytes.assign(static_cast<const char*>(cds->lpData), cds->cbData);
    Out(Format("COPYDATA to=%lld from=%lld dwData=%lu cbData=%lu hex=",
               static_cast<long long>(reinterpret_cast<LONG_PTR>(to)),
               static_cast<long long>(static_cast<LONG_PTR>(from)),
               cds ? static_cast<unsigned long>(cds->dwData) : 0ul,
               cds ? static_cast<unsigned long>(cds->cbData) : 0ul) +
        Hex(bytes.data(), bytes.size()));
    std::string text = SjisToUtf8(bytes);
    size_t start = 0;
    while (start <= text.size()) {
        size_t end = text.find("\r\n", start);
        if (end == std::string::npos)
            end = text.size();
        Out("  | " + text.substr(start, end - start));
        if (end == text.size())
            break;
        start = end + 2;
    }
}

}  // namespace mk::tools
