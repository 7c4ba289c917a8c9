// The module's error types. Each carries the display text that reaches
// Python; the translation into Python exceptions happens once, at the
// boundary of every Python-visible function.
#pragma once

#include <stdexcept>
#include <string>

namespace vantu {

// An ordinary failure of an operation: RuntimeError in Python.
class Error : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// An operation needed a connection and the server holds none.
class ServerStateError : public Error {
public:
    ServerStateError() : Error("Bad Server state") {}
    static ServerStateError no_stream() { return {}; }
};

// A wait that ran out of its time: TimeoutError in Python.
class TimeoutError : public Error {
public:
    using Error::Error;
};

// A failed system call: the system's message, then " (os error N)".
class OsError : public Error {
public:
    explicit OsError(int code);
    int code() const { return code_; }

private:
    int code_;
};

// An unrecoverable failure. Its message goes to standard error; called from
// Python it becomes PanicException, on the serve thread it ends the thread.
class Fatal : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// "No such file or directory (os error 2)".
std::string os_error_text(int code);

// The detailed rendering used inside fatal texts, naming the error's kind,
// text and number: "EADDRINUSE: Address already in use (os error 98)".
std::string os_error_detail(int code);

}  // namespace vantu
