// The mascot host stand-in (tools/host) beside the controller stand-in, for the tests of host
// identification, menu injection and forwarding. The host is inspected through what it
// prints: Wine drops the link to another process's pop-up menu and refuses cross-process
// menu reads, so the host dumps its own menu from inside.
#pragma once

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "child.h"
#include "controller_fixture.h"
#include "winutil.h"

namespace mk::test {

// Lines that `child` printed up to the answer to "echo <token>", which is not included. The
// host answers an echo only after every message posted before it has been handled.
inline std::vector<std::string> LinesUntilEcho(Child& child, const std::string& token,
                                               DWORD timeout_ms = RigLimit()) {
    std::vector<std::string> lines;
    child.Send("echo " + token);
    DWORD start = GetTickCount();
    for (;;) {
        for (const auto& line : child.Unread(20)) {
            if (line == "ECHO " + token)
                return lines;
            lines.push_back(line);
        }
        if (GetTickCount() - start > timeout_ms) {
            ADD_FAILURE() << "no answer to echo " << token;
            return lines;
        }
    }
}

struct Host {
    std::unique_ptr<Child> child;
    long long pid = 0;
    long long tmainform = 0;
    long long tputil = 0;
    std::string kind;
    bool hooked = false;
    int serial = 0;

    // Starts the stand-in as `exe` (a name in the build's bin directory, or a full path) and
    // waits until the hook library has been mapped into it.
    static Host Start(const std::wstring& exe, const std::wstring& args = L"") {
        Host h;
        std::wstring path = exe.find(L'\\') == std::wstring::npos ? BinPath(exe) : exe;
        h.child = Child::Start(path, args);
        std::string ready;
        if (!h.child || !h.child->Expect("READY ", &ready)) {
            ADD_FAILURE() << mk::tools::WideToUtf8(exe) << " did not start: "
                          << (h.child ? h.child->Describe() : Child::StartFailure());
            return h;
        }
        h.pid = FieldLong(ready, "pid");
        h.tmainform = FieldLong(ready, "tmainform");
        h.tputil = FieldLong(ready, "tputil");
        h.kind = Field(ready, "kind");
        std::string hooked;
        h.child->Send("hooked");
        h.hooked = h.child->Expect("HOOKED ", &hooked) && Field(hooked, "mkhook") == "1";
        return h;
    }
    bool ok() const { return child && tmainform != 0 && hooked; }

    // Runs one command; returns what the host printed for it (and for the messages it posted).
    std::vector<std::string> Do(const std::string& command) {
        child->Send(command);
        return LinesUntilEcho(*child, "host" + std::to_string(++serial));
    }
    // Runs a menu command and returns the items of its "MENU <when>" line.
    std::vector<std::string> Menu(const std::string& command, const std::string& when) {
        auto lines = WithPrefix(Do(command), "MENU " + when + " ");
        if (lines.size() != 1) {
            ADD_FAILURE() << command << ": expected one MENU " << when << " line";
            return {};
        }
        return MenuItems(lines[0]);
    }
    // Waits until no worker thread of the hook library is left in the host: every command it
    // forwarded has then been handled by the controller.
    void Settle() {
        std::string line;
        child->Send("settle");
        ASSERT_TRUE(child->Expect("SETTLED ", &line));
        EXPECT_EQ(Field(line, "threads"), "0");
    }
    // Ends the host; true when it ended by itself with exit code 0.
    bool Quit() {
        child->Send("quit");
        return child->CloseAndWait() == 0;
    }
};

// The controller for one test, ended with HookExit when the test ends, also after a failed
// assertion: Wine keeps the hooks of a killed process, and they would go on running in the
// hosts of the next tests.
struct ControllerSession {
    Controller ctl;
    explicit ControllerSession(const std::wstring& args = L"") : ctl(Controller::Start(args)) {}
    ~ControllerSession() {
        if (ctl.child && ctl.child->Wait(0) == STILL_ACTIVE)
            ctl.Exit();
    }
};

// What the controller printed since the last call.
inline std::vector<std::string> ControllerLines(Controller& c) {
    static int serial = 0;
    return LinesUntilEcho(*c.child, "ctl" + std::to_string(++serial));
}

inline std::string Dec(long long v) {
    return std::to_string(v);
}

// Waits for `count` lines of the controller that begin with `prefix` and returns them.
inline std::vector<std::string> ExpectLines(Controller& ctl, const std::string& prefix,
                                            size_t count, DWORD timeout_ms) {
    std::vector<std::string> found;
    DWORD start = GetTickCount();
    while (found.size() < count && GetTickCount() - start < timeout_ms) {
        for (const auto& line : ctl.child->Unread(50))
            if (line.rfind(prefix, 0) == 0)
                found.push_back(line);
    }
    return found;
}

// How long a controller stand-in stalls after a drop's title so that the host goes on first:
// the host's 5 s (the library's bound) and a margin in which the test sees it go on, which a
// slow path makes longer.
inline std::string StallPastTheHostsWait() {
    return std::to_string(5000 + RigLimit(2000));
}

// The controller's line for a drop that reached it: the mascot window and the title it read.
inline std::string DropLine(long long mascot, const std::string& path) {
    return "WM_USER+4 wParam=" + Dec(mascot) + " title=" + path;
}

}  // namespace mk::test
