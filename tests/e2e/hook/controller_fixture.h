// Starts the controller stand-in (which loads the real mkhook.dll) for a test.
#pragma once

#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "child.h"
#include "text.h"
#include "winutil.h"

namespace mk::test {

struct Controller {
    std::unique_ptr<Child> child;
    long long hwnd = 0;  // "MK_GETMSG_WND", 0 with --no-window
    long long sink = 0;  // a window of the controller that logs the requests it receives

    // Starts mkctl with `args`; waits for its READY line.
    static Controller Start(const std::wstring& args = L"") {
        Controller c;
        c.child = Child::Start(BinPath(L"mkctl.exe"), args);
        std::string ready;
        if (c.child && c.child->Expect("READY ", &ready)) {
            c.hwnd = FieldLong(ready, "hwnd");
            c.sink = FieldLong(ready, "sink");
        }
        if (!c.ok())
            ADD_FAILURE() << "mkctl " << mk::tools::WideToUtf8(args) << " did not start: "
                          << (c.child ? c.child->Describe() : Child::StartFailure());
        return c;
    }
    bool ok() const { return child && sink != 0; }
    // Sends a command and returns the first answer line that starts with `answer`.
    std::string Ask(const std::string& command, const std::string& answer,
                    DWORD timeout_ms = RigLimit()) {
        std::string line;
        child->Send(command);
        return child->Expect(answer, &line, timeout_ms) ? line : std::string();
    }
    // Ends the controller the way the suite does: HookExit, unload, exit. Returns the
    // HookExit line.
    std::string Exit() {
        std::string line = Ask("exit", "HookExit ");
        child->CloseAndWait();
        return line;
    }
};

}  // namespace mk::test
