// Child processes for the end-to-end tests and the demo: started with piped standard input and
// output, read line by line, and killed with the test (a job object ends whatever a test leaves).
#pragma once

#include <windows.h>

#include "rig.h"

#include <condition_variable>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace mk::test {

// Directory of the running test program; the deliverables and stand-ins are built beside it.
std::wstring BinDir();
std::wstring BinPath(const std::wstring& name);

class Child {
public:
    // Starts `exe` with `args` as the command-line tail. Returns null when it cannot start;
    // StartFailure then says why (for this thread's last failed Start).
    static std::unique_ptr<Child> Start(const std::wstring& exe, const std::wstring& args);
    static std::string StartFailure();
    ~Child();
    Child(const Child&) = delete;
    Child& operator=(const Child&) = delete;

    DWORD pid() const { return pid_; }
    HANDLE process() const { return process_; }

    // Writes one line (a newline is added) to the child's standard input.
    bool Send(const std::string& line);
    // Waits for the first unread line that begins with `prefix`; it and every unread line
    // before it count as read. Returns false on time-out or when the child's output ended.
    // The waits below default to the rig's limit for what is expected to come (rig.h); a test
    // that checks that something does not come gives its own, short, limit.
    bool Expect(const std::string& prefix, std::string* line = nullptr,
                DWORD timeout_ms = mk::tools::RigLimit());
    // Like Expect, but returns every unread line up to and including the match (nothing on
    // time-out, and then nothing counts as read).
    std::vector<std::string> Collect(const std::string& prefix,
                                     DWORD timeout_ms = mk::tools::RigLimit());
    // Lines received and not yet read, waiting `quiet_ms` for more first.
    std::vector<std::string> Unread(DWORD quiet_ms = 0);
    // Every line received so far.
    std::vector<std::string> All();
    // Closes standard input and waits for the end; returns the exit code or STILL_ACTIVE.
    DWORD CloseAndWait(DWORD timeout_ms = mk::tools::RigLimit());
    DWORD Wait(DWORD timeout_ms = mk::tools::RigLimit());
    void Kill();
    // What the program printed, whether it has ended and how long the last Expect waited, for
    // a failure message.
    std::string Describe();

private:
    Child() = default;
    static std::unique_ptr<Child> StartOnce(const std::wstring& exe, const std::wstring& args,
                                            DWORD* error);
    void ReadLoop();

    HANDLE process_ = nullptr;
    HANDLE stdin_ = nullptr;
    HANDLE stdout_ = nullptr;
    DWORD pid_ = 0;
    std::thread reader_;
    std::mutex mutex_;
    std::condition_variable cv_;
    std::vector<std::string> lines_;
    size_t cursor_ = 0;
    bool eof_ = false;
    std::string expected_;  // the prefix the last Expect waited for
    DWORD waited_ms_ = 0, limit_ms_ = 0;
};

}  // namespace mk::test
