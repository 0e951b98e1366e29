// The stand-ins, started for the whole-suite tests.
#pragma once

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "child.h"
#include "text.h"
#include "winutil.h"

namespace mk::test {

struct Running {
    std::unique_ptr<Child> child;
    std::string ready;  // the READY line

    static Running Start(const std::wstring& exe, const std::wstring& args = L"") {
        Running r;
        r.child = Child::Start(BinPath(exe), args);
        if (!r.child || !r.child->Expect("READY ", &r.ready))
            ADD_FAILURE() << mk::tools::WideToUtf8(exe) << " did not start: "
                          << (r.child ? r.child->Describe() : Child::StartFailure());
        return r;
    }
    bool ok() const { return child && !ready.empty(); }
    long long Get(const std::string& key) const { return FieldLong(ready, key); }
    std::string Ask(const std::string& command, const std::string& answer,
                    DWORD timeout_ms = RigLimit()) {
        std::string line;
        child->Send(command);
        return child->Expect(answer, &line, timeout_ms) ? line : std::string();
    }
    // Every line received since the last read, after an echo round trip: all that the
    // program did for the commands sent before.
    std::vector<std::string> Sync(const std::string& token = "sync") {
        child->Send("echo " + token);
        return child->Collect("ECHO " + token, RigLimit(300000));
    }
};

}  // namespace mk::test
