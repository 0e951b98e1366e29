// A program with one function that -fstack-protector-strong guards (a local array whose address
// escapes), built with the protector and without it. Both link the plug-in's StackGuard.cpp,
// which defines the canary and its check whether or not any code uses them: the hardening check
// must pass the first and report the second (cmake/ImageChecks.cmake).
#include <windows.h>

namespace {

__attribute__((noinline)) int Guarded(const char* text) {
    char buffer[64];
    lstrcpynA(buffer, text, sizeof buffer);
    return lstrlenA(buffer);
}

}  // namespace

int main(int argc, char** argv) {
    return Guarded(argc > 1 ? argv[1] : "");
}
