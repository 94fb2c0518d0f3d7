#pragma once

#include <stdexcept>
#include <string>

#include "PackerContract.h"

namespace vintrix {

// How every stage of the packer reports a failure: it throws an Error whose
// message is one line (without the "error: " that Vintrix prints before it)
// and whose code is the exit status that ends the run. Several failures
// reported together, such as every image that cannot be decoded, are one
// line each. Only the C interface of the Qt reader module, which cannot
// carry exceptions, returns a code and a message buffer instead; its caller
// turns them into an Error.
class Error : public std::runtime_error {
public:
    Error(ExitCode code, const std::string& message) : std::runtime_error(message), code_(code) {}
    ExitCode code() const { return code_; }

private:
    ExitCode code_;
};

// An argument, or a setting from the environment, out of range.
struct ArgumentError : Error {
    explicit ArgumentError(const std::string& message) : Error(ExitCode::BadArguments, message) {}
};

// An image folder or an image that cannot be used.
struct InputError : Error {
    explicit InputError(const std::string& message) : Error(ExitCode::BadInput, message) {}
};

// A failure writing output; the message names the file.
struct OutputError : Error {
    explicit OutputError(const std::string& message) : Error(ExitCode::OutputFailed, message) {}
};

// A run of the same name that started later has put its output in place
// first; this run's output is dropped.
struct SupersededError : Error {
    explicit SupersededError(const std::string& message) : Error(ExitCode::Superseded, message) {}
};

}  // namespace vintrix
