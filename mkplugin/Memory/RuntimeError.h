// Run-time errors of the plug-in. It has no error handlers: an error ends the program with a
// message box (see Module1.cpp). The numbers are the classic Basic error numbers, which users
// of the plug-in may know from earlier versions; they are also the process exit code.
#pragma once

#include <stdexcept>
#include <string>

namespace ramtidy {

enum class ErrorCode : int {
    InvalidCall = 5,
    Overflow = 6,
    SubscriptOutOfRange = 9,
    DivisionByZero = 11,
    TypeMismatch = 13,
};

class RuntimeError : public std::runtime_error {
public:
    // `detail` is plain ASCII and says what the program was doing.
    RuntimeError(ErrorCode code, const std::string& detail)
        : std::runtime_error(detail), code_(code) {}
    ErrorCode code() const { return code_; }

private:
    ErrorCode code_;
};

// The error's name, e.g. "Overflow".
const char* ErrorName(ErrorCode code);

}  // namespace ramtidy
