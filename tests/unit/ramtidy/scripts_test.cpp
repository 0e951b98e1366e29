#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "RuntimeError.h"
#include "Scripts.h"

namespace ramtidy {
namespace {

TEST(MemoryFigures, RoundedMegabytesAndKilobytes) {
    EXPECT_EQ(MegabytesOf(268435456ULL), 256);
    EXPECT_EQ(MegabytesOf(267894784ULL), 255);  // 255.48 MB
    EXPECT_EQ(MegabytesOf(3 * 1048576ULL / 2), 2);
    EXPECT_EQ(MegabytesOf(5 * 1048576ULL / 2), 2);
    EXPECT_EQ(MegabytesOf(24ULL << 30), 24576);  // more than GlobalMemoryStatus could tell
    EXPECT_EQ(KilobytesOf(1536), 2);
    EXPECT_EQ(KilobytesOf(2560), 2);
    EXPECT_EQ(KilobytesOf(24ULL << 30), 25165824);
    EXPECT_THROW(KilobytesOf(4ULL << 40), RuntimeError);  // 4 TB in KB exceeds 32 bits
    EXPECT_THROW(MegabytesOf(~0ULL), RuntimeError);
}

TEST(MemoryFigures, FreeShare) {
    EXPECT_EQ(FreeShareOf(1, 8), 12);  // 12.5
    EXPECT_EQ(FreeShareOf(3, 8), 38);  // 37.5
    EXPECT_EQ(FreeShareOf(5, 8), 62);  // 62.5
    EXPECT_EQ(FreeShareOf(2, 2), 100);
    EXPECT_EQ(FreeShareOf(64, 256), 25);
    try {
        FreeShareOf(0, 0);
        FAIL() << "no error";
    } catch (const RuntimeError& e) {
        EXPECT_EQ(e.code(), ErrorCode::DivisionByZero);
    }
}

TEST(MemoryComment, ByFreeShare) {
    const std::u16string tight = u"やば。再起動したほうがいいかも。";
    const std::u16string usual = u"まぁ、こんなもんか。";
    const std::u16string roomy = u"広々～";
    EXPECT_EQ(MemoryComment(0), tight);
    EXPECT_EQ(MemoryComment(10), tight);
    EXPECT_EQ(MemoryComment(11), usual);
    EXPECT_EQ(MemoryComment(50), usual);
    EXPECT_EQ(MemoryComment(51), roomy);
    EXPECT_EQ(MemoryComment(100), roomy);
    EXPECT_EQ(roomy[2], u'\uFF5E');  // full-width tilde
}

TEST(Scripts, MemoryStatus) {
    EXPECT_EQ(MemoryStatusScript(256, 64, 25),
              u"メモリ情報だよ。\\n\\n搭載メモリ：256MB\\n空きメモリ：64MB\\n空き率：25％\\n\\n"
              u"まぁ、こんなもんか。\\e");
    std::u16string s = MemoryStatusScript(-5, 0, 0);
    EXPECT_NE(s.find(u"：-5MB"), std::u16string::npos);
    EXPECT_EQ(s.find(u' '), std::u16string::npos);
}

TEST(Scripts, CleanReport) {
    EXPECT_EQ(CleanReportScript(129024, 20480, 65536),
              u"メモリクリーン完了～。\\n\\n搭載メモリ：129024KB\\n空きメモリ：20480KB→65536KB\\e");
}

TEST(SstpRequest, FiveLinesAndHandleBlank) {
    std::u16string r = SstpRequest(u"hi\\e", 1234);
    EXPECT_EQ(r,
              u"SEND SSTP/1.5\r\nSender: Mirekko\r\nScript: hi\\e\r\nHWnd: 1234\r\n"
              u"Charset: Shift_JIS\r\n");
    EXPECT_NE(SstpRequest(u"x", 0).find(u"\r\nHWnd: 0\r\n"), std::u16string::npos);
    EXPECT_NE(SstpRequest(u"x", -1234).find(u"\r\nHWnd:-1234\r\n"), std::u16string::npos);
    EXPECT_NE(SstpRequest(u"x", INT32_MIN).find(u"\r\nHWnd:-2147483648\r\n"), std::u16string::npos);
    // A 64-bit handle keeps its whole value.
    EXPECT_NE(SstpRequest(u"x", 4294967296LL).find(u"\r\nHWnd: 4294967296\r\n"),
              std::u16string::npos);
    EXPECT_NE(SstpRequest(u"x", INT64_MIN).find(u"\r\nHWnd:-9223372036854775808\r\n"),
              std::u16string::npos);

    // Exactly five CR LF pairs, the last one ending the text; no bare CR or LF.
    r = SstpRequest(MemoryStatusScript(256, 64, 25), 99);
    size_t pairs = 0;
    for (size_t i = 0; i + 1 < r.size(); ++i)
        pairs += r[i] == u'\r' && r[i + 1] == u'\n';
    EXPECT_EQ(pairs, 5u);
    EXPECT_EQ(std::count(r.begin(), r.end(), u'\r'), 5);
    EXPECT_EQ(std::count(r.begin(), r.end(), u'\n'), 5);
    EXPECT_EQ(r.substr(r.size() - 20), u"Charset: Shift_JIS\r\n");
}

TEST(ShowWndSetting, OnlyTrueAndFalse) {
    EXPECT_TRUE(ShowWndFlagOf(u"True"));
    EXPECT_FALSE(ShowWndFlagOf(u"False"));
    for (const char16_t* text : {u"", u"true", u"FALSE", u"1", u"True "}) {
        try {
            ShowWndFlagOf(text);
            FAIL() << "accepted a stored text";
        } catch (const RuntimeError& e) {
            EXPECT_EQ(e.code(), ErrorCode::TypeMismatch);
        }
    }
}

// The registry hands over a count of bytes, with or without a terminating zero, even an odd one.
TEST(ShowWndSetting, RegistryTextStaysWithinTheCount) {
    auto text = [](const std::string& bytes, size_t count) {
        return RegistryText(reinterpret_cast<const uint8_t*>(bytes.data()), count);
    };
    const std::string true_z("T\0r\0u\0e\0\0\0", 10);
    EXPECT_EQ(text(true_z, 10), u"True");
    EXPECT_EQ(text(true_z, 8), u"True");  // no terminating zero
    EXPECT_EQ(text(true_z, 7), u"Tru");   // the odd last byte is no character
    EXPECT_EQ(text(true_z, 9), u"True");
    EXPECT_EQ(text(true_z, 1), u"");
    EXPECT_EQ(text(true_z, 0), u"");
    // Up to the first zero unit; what follows it is not part of the text.
    EXPECT_EQ(text(std::string("F\0\0\0x\0", 6), 6), u"F");
    // Little-endian units: a character above the first byte's range stays whole.
    EXPECT_EQ(text(std::string("\xB9\x8A", 2), 2), u"\u8AB9");
    // Nothing past the count is read: the buffer here ends exactly at it.
    std::vector<uint8_t> exact = {'F', 0, 'a', 0, 'l', 0, 's', 0, 'e', 0, 'X'};
    EXPECT_EQ(RegistryText(exact.data(), exact.size()), u"False");
}

}  // namespace
}  // namespace ramtidy
