// The suite's item in the mascot host's context menu: where it goes for each host, when it
// is left out, and its removal from the "ssp.exe" menu at the close.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "host_fixture.h"

using namespace mk::test;

namespace {

const char kSuiteItem[] = "Mirekko(&F)";
const char kHeadline[] = "ヘッドライン(&H)";
const char kDeveloper[] = "開発用インターフェース(&D)";

int CountSuiteItems(const std::vector<std::string>& items) {
    int n = 0;
    for (const auto& item : items)
        n += item == kSuiteItem;
    return n;
}

// Opens the menu with a synthetic WM_INITMENU and returns its items; `asked` tells whether
// the controller was asked for its pop-up.
std::vector<std::string> InitMenu(Host& host, Controller& ctl, bool* asked) {
    auto items = host.Menu("initmenu", "init");
    *asked = !WithPrefix(ControllerLines(ctl), "WM_USER+3 ").empty();
    return items;
}

}  // namespace

TEST(MenuInjection, FirstKindHostsGetTheItemInMenusOfSixOrMoreItems) {
    ControllerSession session;
    Controller& ctl = session.ctl;
    ASSERT_TRUE(ctl.ok());
    struct Case {
        const wchar_t* exe;
        const wchar_t* args;
        size_t count;  // items before the insertion
        int position;  // -1: nothing inserted
    } cases[] = {
        {L"sakura.exe", L"--items 5", 5, -1},
        {L"sakura.exe", L"--items 6", 6, 2},
        {L"sakura.exe", L"--items 9 --first dev", 9, 4},
        {L"embryo.exe", L"--items 6", 6, 2},
        {L"embryo.exe", L"--items 6 --first dev", 6, 4},
        {L"embryo.exe", L"--items 5 --first dev", 5, -1},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << c.exe << " " << c.args);
        Host host = Host::Start(c.exe, c.args);
        ASSERT_TRUE(host.ok());
        bool asked = false;
        auto items = InitMenu(host, ctl, &asked);
        EXPECT_EQ(asked, c.position >= 0);
        if (c.position < 0) {
            EXPECT_EQ(items.size(), c.count);
            EXPECT_EQ(CountSuiteItems(items), 0);
        } else {
            ASSERT_EQ(items.size(), c.count + 1);
            EXPECT_EQ(items[c.position], kSuiteItem);
            EXPECT_EQ(CountSuiteItems(items), 1);
        }
        // No removal for these hosts, and every opening inserts again.
        host.Do("menuclose");
        auto again = InitMenu(host, ctl, &asked);
        EXPECT_EQ(asked, c.position >= 0);
        EXPECT_EQ(CountSuiteItems(again), c.position < 0 ? 0 : 2);
        EXPECT_TRUE(host.Quit());
    }
}

TEST(MenuInjection, RealContextMenusShowTheItemWhileOpen) {
    // The menu opened with TrackPopupMenu, as on a right click, printed from inside while open.
    ControllerSession session;
    Controller& ctl = session.ctl;
    ASSERT_TRUE(ctl.ok());
    {
        Host sakura = Host::Start(L"sakura.exe", L"--items 6");
        ASSERT_TRUE(sakura.ok());
        auto lines = sakura.Do("menu");
        auto open = WithPrefix(lines, "MENU open ");
        auto closed = WithPrefix(lines, "MENU closed ");
        ASSERT_EQ(open.size(), 1u);
        ASSERT_EQ(closed.size(), 1u);
        EXPECT_EQ(MenuItems(open[0])[2], kSuiteItem);
        EXPECT_EQ(MenuItems(closed[0]).size(), 7u);  // stays after the close
        EXPECT_EQ(WithPrefix(lines, "HOST WM_INITMENU window=tputil").size(), 1u);
        EXPECT_TRUE(sakura.Quit());
    }
    {
        Host ssp = Host::Start(L"ssp.exe", L"--items 3");
        ASSERT_TRUE(ssp.ok());
        auto lines = ssp.Do("menu");
        auto open = WithPrefix(lines, "MENU open ");
        auto closed = WithPrefix(lines, "MENU closed ");
        ASSERT_EQ(open.size(), 1u);
        ASSERT_EQ(closed.size(), 1u);
        // Only three items, yet recognised by its first item; gone again after the close.
        EXPECT_EQ(MenuItems(open[0]),
                  (std::vector<std::string>{kHeadline, "Item1", kSuiteItem, "Item2"}));
        EXPECT_EQ(MenuItems(closed[0]), (std::vector<std::string>{kHeadline, "Item1", "Item2"}));
        EXPECT_EQ(WithPrefix(lines, "HOST WM_MENUSELECT window=tmainform item=0 flags=ffff menu=0")
                      .size(),
                  1u);
        EXPECT_TRUE(ssp.Quit());
    }
    EXPECT_EQ(WithPrefix(ControllerLines(ctl), "WM_USER+3 ").size(), 2u);
}

TEST(MenuInjection, NothingForOtherClassesTextsOrProcesses) {
    ControllerSession session;
    Controller& ctl = session.ctl;
    ASSERT_TRUE(ctl.ok());
    struct Case {
        const wchar_t* exe;
        const wchar_t* args;
    } cases[] = {
        // The right menu on a window of the other class.
        {L"sakura.exe", L"--items 6 --menu-owner tmainform"},
        {L"ssp.exe", L"--menu-owner tputil"},
        // A "sakura.exe" main window whose menu starts like the "ssp.exe" one.
        {L"sakura.exe", L"--items 6 --first headline --menu-owner tmainform"},
        // An "ssp.exe" menu with another first item.
        {L"ssp.exe", L"--first plain"},
        {L"ssp.exe", L"--first dev"},
        // The host's windows and menus in a process of another name.
        {L"mkhost.exe", L"--kind sakura --items 6"},
        {L"mkhost.exe", L"--kind ssp"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << c.exe << " " << c.args);
        Host host = Host::Start(c.exe, c.args);
        ASSERT_TRUE(host.ok());
        bool asked = true;
        auto items = InitMenu(host, ctl, &asked);
        EXPECT_FALSE(asked);
        EXPECT_EQ(CountSuiteItems(items), 0);
        EXPECT_FALSE(items.empty());
        EXPECT_TRUE(host.Quit());
    }
}

TEST(MenuInjection, HookCodeOtherThanZeroOnlyPassesTheMessageOn) {
    ControllerSession session;
    Controller& ctl = session.ctl;
    ASSERT_TRUE(ctl.ok());
    Host ssp = Host::Start(L"ssp.exe");
    ASSERT_TRUE(ssp.ok());
    ASSERT_EQ(WithPrefix(ssp.Do("hookcode"), "HOOKCODE armed=1").size(), 1u);
    bool asked = true;
    auto lines = ssp.Do("initmenu");
    // The host's window procedure still gets the message.
    EXPECT_EQ(WithPrefix(lines, "HOST WM_INITMENU ").size(), 1u);
    EXPECT_EQ(CountSuiteItems(MenuItems(WithPrefix(lines, "MENU init ").at(0))), 0);
    EXPECT_TRUE(WithPrefix(ControllerLines(ctl), "WM_USER+3 ").empty());
    // The next opening, with code 0, gets the item.
    auto items = InitMenu(ssp, ctl, &asked);
    EXPECT_TRUE(asked);
    EXPECT_EQ(items.at(2), kSuiteItem);
    EXPECT_TRUE(ssp.Quit());
}

TEST(MenuInjection, SspRemovalHappensOnlyAtTheCloseAndOnlyOnce) {
    ControllerSession session;
    Controller& ctl = session.ctl;
    ASSERT_TRUE(ctl.ok());
    Host ssp = Host::Start(L"ssp.exe", L"--items 5");
    ASSERT_TRUE(ssp.ok());
    const std::vector<std::string> original = {kHeadline, "Item1", "Item2", "Item3", "Item4"};
    const std::vector<std::string> inserted = {kHeadline, "Item1", kSuiteItem,
                                               "Item2",   "Item3", "Item4"};
    EXPECT_EQ(ssp.Menu("initmenu", "init"), inserted);
    // A highlighted item, and a 0xFFFF with a menu handle, are not the close.
    EXPECT_EQ(ssp.Menu("menuselect 3 0080 menu", "after"), inserted);
    EXPECT_EQ(ssp.Menu("menuselect 0 ffff menu", "after"), inserted);
    EXPECT_EQ(ssp.Menu("menuclose", "after"), original);
    // Nothing due any more: the host's own item at position 2 stays.
    EXPECT_EQ(ssp.Menu("menuclose", "after"), original);

    // Two openings without a close: two items; the close takes only the one at position 2.
    ssp.Do("initmenu");
    auto twice = ssp.Menu("initmenu", "init");
    EXPECT_EQ(CountSuiteItems(twice), 2);
    EXPECT_EQ(twice.at(2), kSuiteItem);
    auto after = ssp.Menu("menuclose", "after");
    EXPECT_EQ(after.size(), original.size() + 1);
    EXPECT_EQ(CountSuiteItems(after), 1);
    EXPECT_EQ(ssp.Menu("menuclose", "after").size(), original.size() + 1);
    EXPECT_TRUE(ssp.Quit());
}

TEST(MenuInjection, NullPopupInsertsNothingAndLeavesTheHostsItemsAlone) {
    // The controller answers WM_USER+3 with a null menu: nothing is inserted, and the close
    // must not take one of the host's own items instead.
    ControllerSession session(L"--null-popup");
    Controller& ctl = session.ctl;
    ASSERT_TRUE(ctl.ok());
    Host ssp = Host::Start(L"ssp.exe", L"--items 4");
    ASSERT_TRUE(ssp.ok());
    const std::vector<std::string> original = {kHeadline, "Item1", "Item2", "Item3"};
    bool asked = false;
    EXPECT_EQ(InitMenu(ssp, ctl, &asked), original);
    EXPECT_TRUE(asked);
    EXPECT_EQ(ssp.Menu("menuclose", "after"), original);
    // No insertion, so no command is taken for the suite's either.
    ssp.Do("command 1000");
    ssp.Settle();
    EXPECT_TRUE(WithPrefix(ControllerLines(ctl), "WM_USER+0 ").empty());
    EXPECT_TRUE(ssp.Quit());

    Host sakura = Host::Start(L"sakura.exe", L"--items 6");
    ASSERT_TRUE(sakura.ok());
    EXPECT_EQ(CountSuiteItems(InitMenu(sakura, ctl, &asked)), 0);
    EXPECT_TRUE(asked);
    EXPECT_TRUE(sakura.Quit());
}
