// "/SETTING": the one-option dialog that saves "ShowWnd" for the next start.
#include <gtest/gtest.h>

#include <memory>
#include <optional>
#include <string>

#include "ramtidy_e2e.h"
#include "winutil.h"

namespace ramtidy_e2e {
namespace {

std::string Text(HWND h) {
    wchar_t buf[256] = {};
    GetWindowTextW(h, buf, 256);
    return Narrow(buf);
}

TEST(RamtidySettingsDialog, LayoutFocusAndTabOrder) {
    SettingGuard guard;
    SettingGuard::Remove();
    MascotSink sink;
    Dialog d = OpenDialog(sink);
    ASSERT_TRUE(d.form && d.check && d.button);
    EXPECT_EQ(Text(d.form), "設定");
    EXPECT_EQ(Text(d.check), "メモリクリーン実行時に状況表示ウィンドウを表示");
    EXPECT_EQ(Text(d.button), "了解");
    // Only the dialog is left: the hidden status window goes right after the dialog opens.
    EXPECT_EQ(VisibleWindows(d.child->pid()).size(), 1u);
    EXPECT_TRUE(mk::test::WaitUntil([&] {
        for (HWND h : mk::test::WindowsOfProcess(d.child->pid()))
            if (Text(h) == "メモリ清掃中～")
                return false;
        return true;
    }));

    LONG style = GetWindowLongW(d.form, GWL_STYLE);
    EXPECT_TRUE(style & WS_THICKFRAME);
    EXPECT_FALSE(style & WS_MINIMIZEBOX);
    EXPECT_FALSE(style & WS_MAXIMIZEBOX);
    EXPECT_EQ(GetWindowLongW(d.button, GWL_STYLE) & BS_TYPEMASK, BS_PUSHBUTTON);  // not default

    HWND focus = nullptr;
    EXPECT_TRUE(mk::test::WaitUntil([&] {
        GUITHREADINFO info = {};
        info.cbSize = sizeof info;
        GetGUIThreadInfo(GetWindowThreadProcessId(d.form, nullptr), &info);
        focus = info.hwndFocus;
        return focus == d.button;
    }));
    EXPECT_EQ(focus, d.button);
    EXPECT_EQ(GetNextDlgTabItem(d.form, d.button, FALSE), d.check);
    EXPECT_EQ(GetNextDlgTabItem(d.form, d.check, FALSE), d.button);

    // Client area 4680 x 570 twips at the screen's resolution.
    HDC dc = GetDC(nullptr);
    int dpi = GetDeviceCaps(dc, LOGPIXELSX);
    ReleaseDC(nullptr, dc);
    RECT client;
    GetClientRect(d.form, &client);
    EXPECT_EQ(client.right, static_cast<LONG>(RoundHalfEven(4680.0 * dpi / 1440)));
    EXPECT_EQ(client.bottom, static_cast<LONG>(RoundHalfEven(570.0 * dpi / 1440)));

    PostMessageW(d.form, WM_CLOSE, 0, 0);
    EXPECT_EQ(d.child->Wait(), 0u);
    EXPECT_TRUE(sink.Requests().empty());
}

TEST(RamtidySettingsDialog, CommandButtonSavesTheCheckMark) {
    SettingGuard guard;
    MascotSink sink;
    struct Case {
        std::optional<std::wstring> stored;
        int expected_check;
        int set_check;  // -1: leave as it is
        const wchar_t* saved;
    } cases[] = {
        {std::nullopt, BST_CHECKED, -1, L"True"},
        {L"False", BST_UNCHECKED, BST_CHECKED, L"True"},
        {L"True", BST_CHECKED, BST_UNCHECKED, L"False"},
        {L"False", BST_UNCHECKED, -1, L"False"},
    };
    for (const Case& c : cases) {
        if (c.stored)
            SettingGuard::Set(*c.stored);
        else
            SettingGuard::Remove();
        Dialog d = OpenDialog(sink);
        ASSERT_TRUE(d.form && d.check && d.button);
        EXPECT_EQ(SendMessageW(d.check, BM_GETCHECK, 0, 0), c.expected_check);
        if (c.set_check >= 0)
            SendMessageW(d.check, BM_SETCHECK, c.set_check, 0);
        SendMessageW(d.button, BM_CLICK, 0, 0);
        EXPECT_EQ(d.child->Wait(), 0u);
        EXPECT_EQ(SettingGuard::Get(), std::optional<std::wstring>(c.saved));
    }
    EXPECT_TRUE(sink.Requests().empty());  // the dialog never talks to the mascot
}

// The registry gives a string value's bytes as stored: without a terminating zero, with an odd
// count, with a zero inside. The plug-in reads whole characters within the count, up to the
// first zero.
TEST(RamtidySettingsDialog, StoredValuesAreReadWithinTheirLength) {
    SettingGuard guard;
    MascotSink sink;
    const struct {
        const char* what;
        std::string bytes;
        int expected_check;
    } cases[] = {
        {"True and an odd byte", std::string("T\0r\0u\0e\0X", 9), BST_CHECKED},
        {"False without a zero", std::string("F\0a\0l\0s\0e\0", 10), BST_UNCHECKED},
        {"True, a zero, more", std::string("T\0r\0u\0e\0\0\0F\0a\0", 14), BST_CHECKED},
    };
    for (const auto& c : cases) {
        SettingGuard::SetRaw(c.bytes);
        Dialog d = OpenDialog(sink);
        ASSERT_TRUE(d.form && d.check) << c.what;
        EXPECT_EQ(SendMessageW(d.check, BM_GETCHECK, 0, 0), c.expected_check) << c.what;
        PostMessageW(d.form, WM_CLOSE, 0, 0);
        EXPECT_EQ(d.child->Wait(), 0u) << c.what;
    }
}

TEST(RamtidySettingsDialog, ClosingSavesNothing) {
    SettingGuard guard;
    MascotSink sink;
    for (bool stored : {false, true}) {
        if (stored)
            SettingGuard::Set(L"False");
        else
            SettingGuard::Remove();
        Dialog d = OpenDialog(sink);
        ASSERT_TRUE(d.form && d.check);
        SendMessageW(d.check, BM_CLICK, 0, 0);  // change the mark, then close
        PostMessageW(d.form, WM_CLOSE, 0, 0);
        EXPECT_EQ(d.child->Wait(), 0u);
        EXPECT_EQ(SettingGuard::Get(),
                  stored ? std::optional<std::wstring>(L"False") : std::optional<std::wstring>());
    }
}

}  // namespace
}  // namespace ramtidy_e2e
