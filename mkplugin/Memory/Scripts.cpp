#include "Scripts.h"

#include "Numbers.h"
#include "mirekko/protocol.h"
#include "RuntimeError.h"

namespace ramtidy {

int32_t MegabytesOf(uint64_t bytes) {
    return RoundToInt32(static_cast<double>(bytes) / 1024 / 1024, "The memory size in MB");
}

int32_t KilobytesOf(uint64_t bytes) {
    return RoundToInt32(static_cast<double>(bytes) / 1024, "The memory size in KB");
}

int32_t FreeShareOf(int32_t free_mb, int32_t total_mb) {
    if (total_mb == 0)
        throw RuntimeError(ErrorCode::DivisionByZero,
                           "The installed memory rounds to 0 MB, so no free share can be given");
    return RoundToInt32(static_cast<double>(free_mb) / total_mb * 100, "The free share");
}

std::u16string MemoryComment(int32_t free_share) {
    if (free_share >= 0 && free_share <= 10)
        return u"やば。再起動したほうがいいかも。";
    if (free_share >= 11 && free_share <= 50)
        return u"まぁ、こんなもんか。";
    if (free_share >= 51 && free_share <= 100)
        return u"広々～";
    return std::u16string();
}

std::u16string MemoryStatusScript(int32_t total_mb, int32_t free_mb, int32_t free_share) {
    return u"メモリ情報だよ。\\n\\n搭載メモリ：" + Decimal(total_mb) + u"MB\\n空きメモリ：" +
           Decimal(free_mb) + u"MB\\n空き率：" + Decimal(free_share) + u"％\\n\\n" +
           MemoryComment(free_share) + u"\\e";
}

std::u16string CleanReportScript(int32_t total_kb, int32_t free_before_kb, int32_t free_after_kb) {
    return u"メモリクリーン完了～。\\n\\n搭載メモリ：" + Decimal(total_kb) + u"KB\\n空きメモリ：" +
           Decimal(free_before_kb) + u"KB→" + Decimal(free_after_kb) + u"KB\\e";
}

std::u16string SstpRequest(const std::u16string& script, int64_t sender) {
    // A handle that is not negative gets a blank where a negative one has its minus sign.
    std::u16string hwnd = sender < 0 ? Decimal(sender) : u" " + Decimal(sender);
    // Every header ends with CR LF, the last one too: the plug-in's shape of the request.
    return u"" MK_SSTP_PLUGIN_REQUEST_LINE
           "\r\n"
           u"Sender: " MK_SSTP_SENDER
           "\r\n"
           u"Script: " +
           script + u"\r\nHWnd:" + hwnd + u"\r\nCharset: " MK_SSTP_CHARSET "\r\n";
}

std::u16string RegistryText(const uint8_t* bytes, size_t count) {
    std::u16string text;
    for (size_t i = 0; i + 1 < count; i += 2) {
        // Little-endian, as Windows stores every UTF-16 value.
        char16_t unit = static_cast<char16_t>(bytes[i] | bytes[i + 1] << 8);
        if (unit == 0)
            break;
        text += unit;
    }
    return text;
}

bool ShowWndFlagOf(const std::u16string& stored) {
    if (stored == u"True")
        return true;
    if (stored == u"False")
        return false;
    throw RuntimeError(ErrorCode::TypeMismatch,
                       "The saved setting ShowWnd holds neither True nor False");
}

}  // namespace ramtidy
