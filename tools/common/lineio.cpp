#include "lineio.h"

#include <cstdarg>
#include <cstdio>
#include <mutex>
#include <utility>

namespace mk::tools {

void Out(const std::string& line) {
    static std::mutex mutex;
    std::lock_guard<std::mutex> lock(mutex);
    std::string s = line + "\n";
    DWORD written;
    WriteFile(GetStdHandle(STD_OUTPUT_HANDLE), s.data(), static_cast<DWORD>(s.size()), &written,
              nullptr);
    FlushFileBuffers(GetStdHandle(STD_OUTPUT_HANDLE));
}

std::string Format(const char* fmt, ...) {
    va_list ap;
    va_start(ap, fmt);
    char buf[2048];
    int n = vsnprintf(buf, sizeof buf, fmt, ap);
    va_end(ap);
    if (n < 0)
        return std::string();
    return std::string(buf, static_cast<size_t>(n) < sizeof buf ? n : sizeof buf - 1);
}

namespace {

DWORD WINAPI StdinThread(LPVOID param) {
    HWND hwnd = static_cast<HWND>(param);
    HANDLE in = GetStdHandle(STD_INPUT_HANDLE);
    std::string pending;
    char buf[1024];
    DWORD n;
    while (in && ReadFile(in, buf, sizeof buf, &n, nullptr) && n > 0) {
        pending.append(buf, n);
        size_t pos;
        while ((pos = pending.find('\n')) != std::string::npos) {
            std::string line = pending.substr(0, pos);
            if (!line.empty() && line.back() == '\r')
                line.pop_back();
            pending.erase(0, pos + 1);
            PostMessageA(hwnd, WM_MK_STDIN_LINE, 0,
                         reinterpret_cast<LPARAM>(new std::string(std::move(line))));
        }
    }
    PostMessageA(hwnd, WM_MK_STDIN_EOF, 0, 0);
    return 0;
}

}  // namespace

void StartStdinReader(HWND hwnd) {
    HANDLE h = CreateThread(nullptr, 0, StdinThread, hwnd, 0, nullptr);
    if (h)
        CloseHandle(h);
}

std::string TakeCommand(LPARAM lParam) {
    std::string* p = reinterpret_cast<std::string*>(lParam);
    std::string s = std::move(*p);
    delete p;
    return s;
}

std::string NextWord(std::string& rest) {
    size_t i = 0;
    while (i < rest.size() && rest[i] == ' ')
        ++i;
    std::string word;
    if (i < rest.size() && rest[i] == '"') {
        size_t end = rest.find('"', i + 1);
        if (end == std::string::npos)
            end = rest.size();
        word = rest.substr(i + 1, end - i - 1);
        i = end < rest.size() ? end + 1 : end;
    } else {
        size_t end = rest.find(' ', i);
        if (end == std::string::npos)
            end = rest.size();
        word = rest.substr(i, end - i);
        i = end;
    }
    rest.erase(0, i);
    return word;
}

}  // namespace mk::tools
