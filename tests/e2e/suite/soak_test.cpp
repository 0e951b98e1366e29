// Many commands and drops in a row, on hosts of the three kinds: every one the rules forward
// reaches the controller exactly once, none is lost, the host handles each itself, and no
// worker thread of the library is left over.
#include <gtest/gtest.h>

#include <map>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "suite_fixture.h"

using namespace mk::test;

namespace {

struct HostPlan {
    const wchar_t* exe;
    const char* name;
    int commands;
    int drops;
    bool ssp;  // commands need the pop-up inserted first; every second drop is let pass
};

}  // namespace

TEST(Soak, FiveHundredCommandsAndTwoHundredDropsReachTheControllerExactlyOnce) {
    Running ctl = Running::Start(L"mkctl.exe");
    ASSERT_TRUE(ctl.ok());
    const HostPlan plans[] = {{L"sakura.exe", "sakura", 200, 50, false},
                              {L"embryo.exe", "embryo", 150, 50, false},
                              {L"ssp.exe", "ssp", 150, 100, true}};
    unsigned next_id = 1000;
    std::map<long, long> mascot_of_id;  // command id -> the mascot window expected
    std::vector<std::pair<std::string, long>> forwarded_drops;  // in order: path, mascot
    std::set<std::string> passed_drops;

    for (const HostPlan& plan : plans) {
        SCOPED_TRACE(plan.name);
        Running host = Running::Start(plan.exe);
        ASSERT_TRUE(host.ok());
        long long mascot = host.Get("tmainform");
        // Wine maps the library into a new process only on one of its later messages.
        ASSERT_EQ(Field(host.Ask("hooked", "HOOKED "), "mkhook"), "1");
        std::vector<std::pair<unsigned, unsigned>> sent;  // id, high word
        for (int i = 0; i < plan.commands; ++i) {
            unsigned id = next_id++, high = i % 3 == 0 ? 1 : 0;
            if (plan.ssp) {
                // As the user does it: the menu opens (the pop-up goes in), closes, then the
                // chosen command arrives.
                host.child->Send("initmenu");
                host.child->Send("menuclose");
            }
            host.child->Send("command " + std::to_string(id) + " " + std::to_string(high));
            // The user chooses one command per opening of the menu: wait until the host has
            // handled this one before the menu opens again.
            if (plan.ssp) {
                ASSERT_FALSE(host.Sync("c" + std::to_string(id)).empty());
            }
            sent.push_back({id, high});
            mascot_of_id[id] = mascot;
        }
        for (int i = 0; i < plan.drops; ++i) {
            std::string path =
                std::string("C:\\soak\\") + plan.name + "-" + std::to_string(i) + ".txt";
            host.child->Send("drop tmainform " + path);
            if (!plan.ssp || i % 2 == 0)
                forwarded_drops.push_back({path, mascot});
            else
                passed_drops.insert(path);
        }
        auto lines = host.child->All();
        ASSERT_FALSE(host.Sync().empty()) << "the host did not finish";
        lines = host.child->All();
        EXPECT_EQ(FieldLong(host.Ask("settle", "SETTLED "), "threads"), 0);

        // The host's own window procedure got every message unchanged, in order.
        auto commands = WithPrefix(lines, "HOST WM_COMMAND ");
        ASSERT_EQ(commands.size(), sent.size());
        for (size_t i = 0; i < sent.size(); ++i) {
            EXPECT_EQ(static_cast<unsigned>(FieldLong(commands[i], "id")), sent[i].first);
            EXPECT_EQ(static_cast<unsigned>(FieldLong(commands[i], "high")), sent[i].second);
        }
        EXPECT_EQ(WithPrefix(lines, "HOST WM_DROPFILES ").size(), static_cast<size_t>(plan.drops));
        for (const auto& l : lines)
            EXPECT_NE(l.rfind("ERROR", 0), 0u) << l;
        host.child->Send("quit");
        EXPECT_EQ(host.child->CloseAndWait(), 0u);
    }

    auto lines = ctl.Sync();
    ASSERT_FALSE(lines.empty());
    // Commands: worker threads may deliver them out of order, so they are counted.
    std::map<long, int> seen;
    for (const auto& l : WithPrefix(lines, "WM_USER+0 ")) {
        long id = FieldLong(l, "lParam");
        ++seen[id];
        EXPECT_EQ(FieldLong(l, "wParam"), mascot_of_id[id]) << l;
    }
    EXPECT_EQ(seen.size(), mascot_of_id.size());
    for (const auto& [id, mascot] : mascot_of_id)
        EXPECT_EQ(seen[id], 1) << "command " << id;

    // Drops are sent from the host's own thread, so they arrive in order.
    auto drops = WithPrefix(lines, "WM_USER+4 ");
    ASSERT_EQ(drops.size(), forwarded_drops.size());
    for (size_t i = 0; i < drops.size(); ++i) {
        EXPECT_EQ(Field(drops[i], "title"), forwarded_drops[i].first);
        EXPECT_EQ(FieldLong(drops[i], "wParam"), forwarded_drops[i].second);
        EXPECT_EQ(passed_drops.count(Field(drops[i], "title")), 0u);
    }
    std::string exit = ctl.Ask("exit", "HookExit ");
    EXPECT_EQ(Field(exit, "threads"), "0");
    EXPECT_EQ(ctl.child->CloseAndWait(), 0u);
}

TEST(Soak, TwentyNoticesWithinASecondAllReachTheWindowPassedLast) {
    CopyDataSink early;
    Running ctl = Running::Start(L"mkctl.exe");
    ASSERT_TRUE(ctl.ok());
    long long sink = ctl.Get("sink");
    std::string early_hwnd = std::to_string(reinterpret_cast<LONG_PTR>(early.hwnd()));
    for (int i = 0; i < 19; ++i)
        ctl.child->Send("mkiok " + early_hwnd);
    ctl.child->Send("mkiok sink");
    for (int i = 0; i < 20; ++i)
        ASSERT_TRUE(ctl.child->Expect("MKShowMKIOK result=0"));
    for (int i = 0; i < 20; ++i) {
        std::string rec;
        ASSERT_TRUE(ctl.child->Expect("COPYDATA ", &rec)) << "notice " << i;
        EXPECT_EQ(FieldLong(rec, "to"), sink);
        EXPECT_EQ(FieldLong(rec, "from"), ctl.Get("hwnd"));
    }
    EXPECT_TRUE(WaitUntil([&] { return FieldLong(ctl.Ask("threads", "THREADS "), "n") == 0; }));
    EXPECT_TRUE(early.Requests().empty());

    // HookExit while twenty notices wait: nothing more is sent, no thread is left.
    for (int i = 0; i < 20; ++i)
        ctl.child->Send("mkiok sink");
    for (int i = 0; i < 20; ++i)
        ASSERT_TRUE(ctl.child->Expect("MKShowMKIOK result=0"));
    EXPECT_EQ(Field(ctl.Ask("hookexit", "HookExit "), "threads"), "0");
    Sleep(5000);
    for (const auto& l : ctl.child->Unread())
        EXPECT_NE(l.rfind("COPYDATA", 0), 0u) << l;
    ctl.child->Send("exit");
    EXPECT_EQ(ctl.child->CloseAndWait(), 0u);
}
