// "/MEMSTATUS": the mascot is told the installed and free memory, the share and a comment.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <regex>
#include <string>
#include <vector>

#include "ramtidy_e2e.h"
#include "winutil.h"

namespace ramtidy_e2e {
namespace {

constexpr double kMB = 1048576.0;

std::string Comment(long share) {
    if (share >= 0 && share <= 10)
        return "やば。再起動したほうがいいかも。";
    if (share >= 11 && share <= 50)
        return "まぁ、こんなもんか。";
    return "広々～";
}

// Checks one received status report against figures read around the run; returns the free MB.
void CheckStatusReport(const Received& r, const Memory& before, const Memory& after) {
    EXPECT_EQ(r.dw_data, 9801u);
    EXPECT_TRUE(r.sender_is_window);
    EXPECT_FALSE(r.sender_visible);  // Form1 exists but stays hidden
    EXPECT_EQ(r.visible_windows_of_sender, 0);

    std::string text = mk::test::SjisToUtf8(r.bytes);
    std::smatch m;
    ASSERT_TRUE(std::regex_search(
        text, m,
        std::regex("搭載メモリ：([0-9]+)MB\\\\n空きメモリ：([0-9]+)MB\\\\n空き率：([0-9]+)％")))
        << text;
    long total = std::stol(m[1]), free = std::stol(m[2]), share = std::stol(m[3]);
    // The real figures, not those capped at 2 GB for 32-bit programs.
    EXPECT_EQ(total, RoundHalfEven(before.total / kMB));
    // Free memory moves with the rest of the machine: bound it by readings taken before and
    // after the run, with kFreeLeewayMB of leeway.
    long lo =
        static_cast<long>(RoundHalfEven(std::min(before.avail, after.avail) / kMB)) - kFreeLeewayMB;
    long hi =
        static_cast<long>(RoundHalfEven(std::max(before.avail, after.avail) / kMB)) + kFreeLeewayMB;
    EXPECT_GE(free, lo);
    EXPECT_LE(free, hi);
    EXPECT_EQ(share, RoundHalfEven(static_cast<double>(free) / total * 100));

    std::string script = "メモリ情報だよ。\\n\\n搭載メモリ：" + std::to_string(total) +
                         "MB\\n空きメモリ：" + std::to_string(free) + "MB\\n空き率：" +
                         std::to_string(share) + "％\\n\\n" + Comment(share) + "\\e";
    EXPECT_EQ(r.bytes, ExpectedRequest(script, r.from));
}

TEST(RamtidyStatusReport, ByteExactRequestToTheMascotWindow) {
    SettingGuard guard;
    SettingGuard::Remove();
    MascotSink sink;
    Memory before = ReadMemory();
    auto child = StartRamtidy(L"MK" + std::to_wstring(sink.handle()) + L" /MEMSTATUS");
    ASSERT_TRUE(child);
    EXPECT_EQ(child->Wait(), 0u);
    Memory after = ReadMemory();
    std::vector<Received> got = sink.Requests();
    ASSERT_EQ(got.size(), 1u);
    CheckStatusReport(got[0], before, after);

    // The request carries exactly five CR LF pairs and ends with the last one.
    const std::string& b = got[0].bytes;
    EXPECT_EQ(std::count(b.begin(), b.end(), '\n'), 5);
    EXPECT_EQ(b.substr(b.size() - 20), "Charset: Shift_JIS\r\n");
}

TEST(RamtidyStatusReport, BlanksAroundTheArgumentsAreIgnored) {
    MascotSink sink;
    Memory before = ReadMemory();
    auto child = StartRamtidy(L"   MK" + std::to_wstring(sink.handle()) + L" /MEMSTATUS   ");
    ASSERT_TRUE(child);
    EXPECT_EQ(child->Wait(), 0u);
    Memory after = ReadMemory();
    std::vector<Received> got = sink.Requests();
    ASSERT_EQ(got.size(), 1u);
    CheckStatusReport(got[0], before, after);
}

TEST(RamtidyStatusReport, ThroughTheHostStandIn) {
    std::wstring host = mk::test::BinPath(L"ssp.exe");
    if (GetFileAttributesW(host.c_str()) == INVALID_FILE_ATTRIBUTES)
        GTEST_SKIP() << "host stand-in not built";
    auto ssp = mk::test::Child::Start(host, L"");
    ASSERT_TRUE(ssp);
    std::string ready;
    ASSERT_TRUE(ssp->Expect("READY ", &ready)) << ssp->Describe();
    long long mascot = mk::test::FieldLong(ready, "tmainform");
    ASSERT_NE(mascot, 0);

    Memory before = ReadMemory();
    auto child = StartRamtidy(L"MK" + std::to_wstring(mascot) + L" /MEMSTATUS");
    ASSERT_TRUE(child);
    EXPECT_EQ(child->Wait(), 0u);
    Memory after = ReadMemory();

    std::string line;
    ASSERT_TRUE(ssp->Expect("COPYDATA ", &line));
    EXPECT_EQ(mk::test::FieldLong(line, "to"), mascot);
    EXPECT_EQ(mk::test::FieldLong(line, "dwData"), 9801);
    Received r;
    r.from = mk::test::FieldLong(line, "from");
    r.dw_data = 9801;
    r.bytes = mk::test::HexDecode(mk::test::Field(line, "hex"));
    EXPECT_EQ(mk::test::FieldLong(line, "cbData"), static_cast<long>(r.bytes.size()));
    std::string text = mk::test::SjisToUtf8(r.bytes);
    std::smatch m;
    ASSERT_TRUE(std::regex_search(
        text, m,
        std::regex("搭載メモリ：([0-9]+)MB\\\\n空きメモリ：([0-9]+)MB\\\\n空き率：([0-9]+)％")));
    long total = std::stol(m[1]), free = std::stol(m[2]), share = std::stol(m[3]);
    EXPECT_EQ(total, RoundHalfEven(before.total / kMB));
    EXPECT_GE(free, RoundHalfEven(std::min(before.avail, after.avail) / kMB) - kFreeLeewayMB);
    EXPECT_LE(free, RoundHalfEven(std::max(before.avail, after.avail) / kMB) + kFreeLeewayMB);
    std::string script = "メモリ情報だよ。\\n\\n搭載メモリ：" + std::to_string(total) +
                         "MB\\n空きメモリ：" + std::to_string(free) + "MB\\n空き率：" +
                         std::to_string(share) + "％\\n\\n" + Comment(share) + "\\e";
    EXPECT_EQ(r.bytes, ExpectedRequest(script, r.from));
    ssp->Send("quit");
    EXPECT_EQ(ssp->CloseAndWait(), 0u);
}

// 65535 is HWND_BROADCAST, and -1 is taken as a broadcast too: a request sent there would reach
// every top-level window, the sink's and the host's among them. Neither, nor 0 or a window that
// is gone, is a window: the plug-in sends nothing and ends as for a mascot that has gone.
TEST(RamtidyStatusReport, AHandleThatIsNoWindowGetsNothingAndNobodyElseDoes) {
    auto host = mk::test::Child::Start(mk::test::BinPath(L"mkhost.exe"), L"--kind ssp");
    ASSERT_TRUE(host);
    ASSERT_TRUE(host->Expect("READY ")) << host->Describe();
    MascotSink sink;
    HWND gone = CreateWindowExW(0, L"STATIC", L"gone", WS_OVERLAPPED, 0, 0, 0, 0, nullptr, nullptr,
                                nullptr, nullptr);
    ASSERT_NE(gone, nullptr);
    const long long gone_handle = static_cast<long long>(reinterpret_cast<intptr_t>(gone));
    DestroyWindow(gone);
    for (const std::wstring& handle : {std::wstring(L"-1"), std::wstring(L"65535"),
                                       std::wstring(L"0"), std::to_wstring(gone_handle)}) {
        auto child = StartRamtidy(L"MK" + handle + L" /MEMSTATUS");
        ASSERT_TRUE(child);
        EXPECT_EQ(child->Wait(), 0u) << Narrow(handle);
    }
    EXPECT_TRUE(sink.Requests().empty());
    host->Send("echo done");
    for (const std::string& line : host->Collect("ECHO done"))
        EXPECT_NE(line.rfind("COPYDATA ", 0), 0u) << line;
    host->Send("quit");
    EXPECT_EQ(host->CloseAndWait(), 0u);
}

TEST(RamtidyStatusReport, AMascotHostThatHangsKeepsThePluginAtMostTenSeconds) {
    auto host = mk::test::Child::Start(mk::test::BinPath(L"mkhost.exe"), L"--kind ssp");
    std::string ready;
    ASSERT_TRUE(host);
    ASSERT_TRUE(host->Expect("READY ", &ready)) << host->Describe();
    long long mascot = mk::test::FieldLong(ready, "tmainform");
    // Long enough for the plug-in to start and give up on a busy machine too.
    host->Send("hang " + std::to_string(mk::test::RigLimit(25000)));
    ASSERT_TRUE(host->Expect("HANG "));
    DWORD start = GetTickCount();
    auto child = StartRamtidy(L"MK" + std::to_wstring(mascot) + L" /MEMSTATUS");
    ASSERT_TRUE(child);
    // The plug-in gives up on the request and ends as usual while the host still hangs.
    EXPECT_EQ(child->Wait(), 0u);
    DWORD ms = GetTickCount() - start;
    EXPECT_TRUE(mk::test::WithPrefix(host->Unread(), "RESUMED").empty())
        << "the plug-in waited until the host served again";
    std::printf("/MEMSTATUS to a hung host ended after %lu ms\n", ms);
    // A request given up before the host took it is never delivered.
    ASSERT_TRUE(host->Expect("RESUMED"));
    host->Send("echo done");
    auto after = host->Collect("ECHO done");
    EXPECT_TRUE(mk::test::WithPrefix(after, "COPYDATA ").empty());
    host->Send("quit");
    EXPECT_EQ(host->CloseAndWait(), 0u);
}

}  // namespace
}  // namespace ramtidy_e2e
