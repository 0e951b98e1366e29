// Telling the mascot host by the image name of its process, and reading its window list from
// the shared memory "Sakura", whatever that memory holds.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "host_fixture.h"
#include "text.h"

using namespace mk::test;

namespace {

// A copy of the host stand-in under `name`, in a directory of its own (so that names that
// differ only in case do not meet); removed with the object.
class RenamedHost {
public:
    explicit RenamedHost(const std::wstring& name) {
        dir_ = BinPath(L"renamed-" + std::to_wstring(GetCurrentProcessId()) + L"-" +
                       std::to_wstring(++counter_));
        CreateDirectoryW(dir_.c_str(), nullptr);
        path_ = dir_ + L"\\" + name;
        ok_ = CopyFileW(BinPath(L"mkhost.exe").c_str(), path_.c_str(), FALSE) != 0;
    }
    ~RenamedHost() {
        DeleteFileW(path_.c_str());
        RemoveDirectoryW(dir_.c_str());
    }
    bool ok() const { return ok_; }
    const std::wstring& path() const { return path_; }

private:
    static inline int counter_ = 0;
    std::wstring dir_, path_;
    bool ok_ = false;
};

bool GetsTheItem(Host& host, Controller& ctl) {
    auto items = host.Menu("initmenu", "init");
    bool asked = !WithPrefix(ControllerLines(ctl), "WM_USER+3 ").empty();
    bool inserted = false;
    for (const auto& item : items)
        inserted |= item == "Mirekko(&F)";
    EXPECT_EQ(asked, inserted);
    return inserted;
}

}  // namespace

TEST(HostIdentification, ImageNamesMatchInAnyCaseAndAsTheTailOfLongerNames) {
    ControllerSession session;
    Controller& ctl = session.ctl;
    ASSERT_TRUE(ctl.ok());
    struct Case {
        const wchar_t* name;
        const wchar_t* args;
        bool matches;
    } cases[] = {
        {L"SSP.EXE", L"--kind ssp", true},
        {L"SAKURA.EXE", L"--kind sakura", true},
        {L"MySakura.Exe", L"--kind sakura", true},
        {L"Embryo.exe", L"--kind sakura", true},
        {L"sakura.exe.bak.exe", L"--kind sakura", true},
        {L"sakura_exe.exe", L"--kind sakura", false},
        // In Shift_JIS the second byte of "ピ" and of "市" is an "s": byte for byte these names
        // held "sakura.exe" and "ssp.exe". No character lends part of itself to a name.
        {L"ピakura.exe", L"--kind sakura", false},
        {L"市sp.exe", L"--kind ssp", false},
        {L"ピsakura.exe", L"--kind sakura", true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message()
                     << mk::tools::WideToUtf8(c.name) << " " << c.args << " matches=" << c.matches);
        RenamedHost copy(c.name);
        ASSERT_TRUE(copy.ok());
        {
            Host host = Host::Start(copy.path(), c.args);
            ASSERT_TRUE(host.ok());
            EXPECT_EQ(GetsTheItem(host, ctl), c.matches);
            EXPECT_TRUE(host.Quit());
        }
    }
}

TEST(HostIdentification, MascotWindowIsTheFirstListedWindowOfTheHostsProcess) {
    ControllerSession session;
    Controller& ctl = session.ctl;
    ASSERT_TRUE(ctl.ok());
    // A mapping smaller than the 64 KiB the library reads from it.
    Host small = Host::Start(L"sakura.exe", L"--sakura-size 4096");
    ASSERT_TRUE(small.ok());
    small.Do("drop C:\\a.txt");
    EXPECT_EQ(WithPrefix(ControllerLines(ctl), "WM_USER+4 "),
              (std::vector<std::string>{"WM_USER+4 wParam=" + Dec(small.tmainform) +
                                        " title=C:\\a.txt"}));
    EXPECT_TRUE(small.Quit());

    // Two hosts share one list: the other host's window first, then this one's. Each finds
    // its own window, skipping the one of the other process.
    Host other = Host::Start(L"embryo.exe", L"--sakura none");
    ASSERT_TRUE(other.ok());
    Host host = Host::Start(L"sakura.exe",
                            L"--sakura foreign --foreign " + std::to_wstring(other.tmainform));
    ASSERT_TRUE(host.ok());
    host.Do("command 1000 0 tputil");
    host.Settle();
    EXPECT_EQ(
        WithPrefix(ControllerLines(ctl), "WM_USER+0 "),
        (std::vector<std::string>{"WM_USER+0 wParam=" + Dec(host.tmainform) + " lParam=1000"}));
    other.Do("command 1001 0 tputil");
    other.Do("drop C:\\b.txt");
    other.Settle();
    auto lines = ControllerLines(ctl);
    EXPECT_EQ(
        WithPrefix(lines, "WM_USER+0 "),
        (std::vector<std::string>{"WM_USER+0 wParam=" + Dec(other.tmainform) + " lParam=1001"}));
    EXPECT_EQ(WithPrefix(lines, "WM_USER+4 "),
              (std::vector<std::string>{"WM_USER+4 wParam=" + Dec(other.tmainform) +
                                        " title=C:\\b.txt"}));
    EXPECT_TRUE(host.Quit());
    EXPECT_TRUE(other.Quit());
}

TEST(HostIdentification, HostileSharedMemoryDoesNotHurtTheHost) {
    // 4096 bytes, no zero byte, over-long keys and values, an entry without ".", the last entry
    // cut off: the library reads no further than the mapping and skips the broken entries.
    ControllerSession session;
    Controller& ctl = session.ctl;
    ASSERT_TRUE(ctl.ok());
    Host host = Host::Start(L"sakura.exe", L"--sakura hostile");
    ASSERT_TRUE(host.ok());
    for (int i = 0; i < 3; ++i) {
        host.Do("drop C:\\x.txt");
        host.Do("command 1000 0 tputil");
    }
    host.Settle();
    auto lines = ControllerLines(ctl);
    EXPECT_EQ(WithPrefix(lines, "WM_USER+4 wParam=" + Dec(host.tmainform) + " ").size(), 3u);
    EXPECT_EQ(WithPrefix(lines, "WM_USER+0 wParam=" + Dec(host.tmainform) + " ").size(), 3u);
    EXPECT_EQ(WithPrefix(host.Do("dumpmenu"), "MENU now ").size(), 1u);  // still answering
    EXPECT_TRUE(host.Quit());
}

TEST(HostIdentification, OnlyCommittedPagesOfTheSharedMemoryAreRead) {
    // Whoever creates "Sakura" decides what its pages are. Reserved pages fault when read on
    // Windows (not under Wine, which reads zeros): with none committed the list is empty and
    // the host goes on; with only the first page committed its entries are found. The pages of
    // a mapping backed by a file are copied by the system, which reports one that cannot be
    // read in instead of faulting (Wine cannot make such a page): its entries are found too.
    ControllerSession session;
    Controller& ctl = session.ctl;
    ASSERT_TRUE(ctl.ok());
    struct Case {
        const wchar_t* args;
        size_t forwarded;
    } cases[] = {{L"--sakura reserved", 0}, {L"--sakura partial", 1}, {L"--sakura file", 1}};
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << c.args);
        Host host = Host::Start(L"sakura.exe", c.args);
        ASSERT_TRUE(host.ok());
        EXPECT_EQ(WithPrefix(host.Do("drop C:\\x.txt"), "HOST WM_DROPFILES ").size(), 1u);
        EXPECT_EQ(WithPrefix(host.Do("command 1000 0 tputil"), "HOST WM_COMMAND ").size(), 1u);
        host.Settle();
        auto lines = ControllerLines(ctl);
        EXPECT_EQ(WithPrefix(lines, "WM_USER+4 wParam=" + Dec(host.tmainform) + " ").size(),
                  c.forwarded);
        EXPECT_EQ(WithPrefix(lines, "WM_USER+0 wParam=" + Dec(host.tmainform) + " ").size(),
                  c.forwarded);
        EXPECT_TRUE(WithPrefix(host.child->All(), "ERROR").empty());
        EXPECT_TRUE(host.Quit());
    }
}
