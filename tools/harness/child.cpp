#include "child.h"

#include <chrono>

namespace mk::test {
namespace {

// Every child joins this job; closing it (at the latest when the test program ends) kills
// whatever a failed test left running.
HANDLE TestJob() {
    static HANDLE job = [] {
        HANDLE h = CreateJobObjectW(nullptr, nullptr);
        JOBOBJECT_EXTENDED_LIMIT_INFORMATION info = {};
        info.BasicLimitInformation.LimitFlags = JOB_OBJECT_LIMIT_KILL_ON_JOB_CLOSE;
        SetInformationJobObject(h, JobObjectExtendedLimitInformation, &info, sizeof info);
        return h;
    }();
    return job;
}

}  // namespace

std::wstring BinDir() {
    wchar_t path[MAX_PATH];
    DWORD n = GetModuleFileNameW(nullptr, path, MAX_PATH);
    std::wstring s(path, n);
    return s.substr(0, s.find_last_of(L"\\/"));
}

std::wstring BinPath(const std::wstring& name) {
    return BinDir() + L"\\" + name;
}

namespace {
thread_local std::string start_failure;

// Errors that say the program cannot be started at all; any other failure of CreateProcess is
// taken as passing: under Wine, on a loaded machine, starting a program that is there now and
// then fails where a second try succeeds. Windows gives the errors below only for a cause that
// stays.
bool Lasting(DWORD error) {
    switch (error) {
        case ERROR_FILE_NOT_FOUND:
        case ERROR_PATH_NOT_FOUND:
        case ERROR_ACCESS_DENIED:
        case ERROR_BAD_EXE_FORMAT:
        case ERROR_EXE_MACHINE_TYPE_MISMATCH:
        case ERROR_INVALID_NAME:
            return true;
        default:
            return false;
    }
}
}  // namespace

std::string Child::StartFailure() {
    return start_failure;
}

std::unique_ptr<Child> Child::Start(const std::wstring& exe, const std::wstring& args) {
    const int kTries = 3;
    DWORD error = 0;
    for (int attempt = 1; attempt <= kTries; ++attempt) {
        if (auto child = StartOnce(exe, args, &error))
            return child;
        start_failure = (error ? "CreateProcess failed with error " + std::to_string(error)
                               : std::string("no pipe for its standard input or output")) +
                        " (" + std::to_string(attempt) + " of " + std::to_string(kTries) +
                        " tries)";
        if (!error || Lasting(error))
            break;
        Sleep(200 * attempt);
    }
    return nullptr;
}

std::unique_ptr<Child> Child::StartOnce(const std::wstring& exe, const std::wstring& args,
                                        DWORD* error) {
    *error = 0;
    SECURITY_ATTRIBUTES sa = {sizeof sa, nullptr, TRUE};
    HANDLE in_read, in_write, out_read, out_write;
    if (!CreatePipe(&in_read, &in_write, &sa, 0))
        return nullptr;
    if (!CreatePipe(&out_read, &out_write, &sa, 0)) {
        CloseHandle(in_read);
        CloseHandle(in_write);
        return nullptr;
    }
    SetHandleInformation(in_write, HANDLE_FLAG_INHERIT, 0);
    SetHandleInformation(out_read, HANDLE_FLAG_INHERIT, 0);

    STARTUPINFOW si = {};
    si.cb = sizeof si;
    si.dwFlags = STARTF_USESTDHANDLES;
    si.hStdInput = in_read;
    si.hStdOutput = out_write;
    si.hStdError = GetStdHandle(STD_ERROR_HANDLE);
    PROCESS_INFORMATION pi = {};
    std::wstring cmd = L"\"" + exe + L"\"";
    if (!args.empty())
        cmd += L" " + args;
    std::vector<wchar_t> buf(cmd.begin(), cmd.end());
    buf.push_back(0);
    BOOL ok = CreateProcessW(exe.c_str(), buf.data(), nullptr, nullptr, TRUE,
                             CREATE_NO_WINDOW | CREATE_SUSPENDED, nullptr, nullptr, &si, &pi);
    if (!ok)
        *error = GetLastError() ? GetLastError() : ERROR_GEN_FAILURE;
    CloseHandle(in_read);
    CloseHandle(out_write);
    if (!ok) {
        CloseHandle(in_write);
        CloseHandle(out_read);
        return nullptr;
    }
    AssignProcessToJobObject(TestJob(), pi.hProcess);
    ResumeThread(pi.hThread);
    CloseHandle(pi.hThread);

    std::unique_ptr<Child> c(new Child);
    c->process_ = pi.hProcess;
    c->pid_ = pi.dwProcessId;
    c->stdin_ = in_write;
    c->stdout_ = out_read;
    c->reader_ = std::thread([p = c.get()] { p->ReadLoop(); });
    return c;
}

Child::~Child() {
    // The stand-ins end cleanly at the end of their input; the controller then calls
    // HookExit. A killed controller would leave its hooks installed in the wineserver, and
    // every later test would see each message hooked once more.
    if (stdin_) {
        CloseHandle(stdin_);
        stdin_ = nullptr;
    }
    if (process_)
        WaitForSingleObject(process_, 3000);
    Kill();
    if (reader_.joinable())
        reader_.join();
    if (stdout_)
        CloseHandle(stdout_);
    if (process_)
        CloseHandle(process_);
}

void Child::ReadLoop() {
    std::string pending;
    char buf[4096];
    DWORD n;
    while (ReadFile(stdout_, buf, sizeof buf, &n, nullptr) && n > 0) {
        pending.append(buf, n);
        size_t pos;
        std::lock_guard<std::mutex> lock(mutex_);
        while ((pos = pending.find('\n')) != std::string::npos) {
            std::string line = pending.substr(0, pos);
            if (!line.empty() && line.back() == '\r')
                line.pop_back();
            lines_.push_back(line);
            pending.erase(0, pos + 1);
        }
        cv_.notify_all();
    }
    std::lock_guard<std::mutex> lock(mutex_);
    if (!pending.empty())
        lines_.push_back(pending);
    eof_ = true;
    cv_.notify_all();
}

bool Child::Send(const std::string& line) {
    std::string s = line + "\n";
    DWORD n = 0;
    return WriteFile(stdin_, s.data(), static_cast<DWORD>(s.size()), &n, nullptr) && n == s.size();
}

bool Child::Expect(const std::string& prefix, std::string* line, DWORD timeout_ms) {
    std::unique_lock<std::mutex> lock(mutex_);
    const auto start = std::chrono::steady_clock::now();
    const auto deadline = start + std::chrono::milliseconds(timeout_ms);
    expected_ = prefix;
    limit_ms_ = timeout_ms;
    auto done = [&](bool found) {
        waited_ms_ = static_cast<DWORD>(std::chrono::duration_cast<std::chrono::milliseconds>(
                                            std::chrono::steady_clock::now() - start)
                                            .count());
        return found;
    };
    size_t scanned = cursor_;
    for (;;) {
        for (; scanned < lines_.size(); ++scanned) {
            if (lines_[scanned].compare(0, prefix.size(), prefix) == 0) {
                if (line)
                    *line = lines_[scanned];
                cursor_ = scanned + 1;
                return done(true);
            }
        }
        if (eof_)
            return done(false);
        if (cv_.wait_until(lock, deadline) == std::cv_status::timeout && scanned == lines_.size())
            return done(false);
    }
}

std::vector<std::string> Child::Collect(const std::string& prefix, DWORD timeout_ms) {
    size_t from;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        from = cursor_;
    }
    if (!Expect(prefix, nullptr, timeout_ms))
        return {};
    std::lock_guard<std::mutex> lock(mutex_);
    return std::vector<std::string>(lines_.begin() + from, lines_.begin() + cursor_);
}

std::vector<std::string> Child::Unread(DWORD quiet_ms) {
    if (quiet_ms)
        Sleep(quiet_ms);
    std::lock_guard<std::mutex> lock(mutex_);
    std::vector<std::string> out(lines_.begin() + cursor_, lines_.end());
    cursor_ = lines_.size();
    return out;
}

std::vector<std::string> Child::All() {
    std::lock_guard<std::mutex> lock(mutex_);
    return lines_;
}

DWORD Child::Wait(DWORD timeout_ms) {
    if (WaitForSingleObject(process_, timeout_ms) != WAIT_OBJECT_0)
        return STILL_ACTIVE;
    DWORD code = STILL_ACTIVE;
    GetExitCodeProcess(process_, &code);
    return code;
}

DWORD Child::CloseAndWait(DWORD timeout_ms) {
    if (stdin_) {
        CloseHandle(stdin_);
        stdin_ = nullptr;
    }
    return Wait(timeout_ms);
}

std::string Child::Describe() {
    std::string out = "printed:";
    for (const std::string& line : All())
        out += " [" + line + "]";
    DWORD code = Wait(0);
    if (code == STILL_ACTIVE)
        out += "; still running";
    else
        out += "; ended with exit code " + std::to_string(code);
    std::lock_guard<std::mutex> lock(mutex_);
    if (!expected_.empty())
        out += "; waited " + std::to_string(waited_ms_) + " ms for \"" + expected_ +
               "...\" (limit " + std::to_string(limit_ms_) + " ms)";
    return out;
}

void Child::Kill() {
    if (process_ && WaitForSingleObject(process_, 0) == WAIT_TIMEOUT) {
        TerminateProcess(process_, 999);
        WaitForSingleObject(process_, 5000);
    }
}

}  // namespace mk::test
