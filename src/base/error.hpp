// The module's error types. Each carries the whole text that reaches Python
// or standard error; the translation into Python exceptions happens once, at
// the boundary of every Python-visible function.
#pragma once

#include <exception>
#include <string>
#include <utility>

#include "base/texts.hpp"

namespace vantu {

// An error with its text. what() stops at a NUL byte, which a Python text
// may hold; text() does not.
class TextError : public std::exception {
public:
    explicit TextError(std::string text) : text_(std::move(text)) {}
    const std::string& text() const { return text_; }
    const char* what() const noexcept override { return text_.c_str(); }

private:
    std::string text_;
};

// An ordinary failure of an operation: RuntimeError in Python.
class Error : public TextError {
public:
    using TextError::TextError;
};

// An operation needed a connection and the server holds none.
class ServerStateError : public Error {
public:
    static ServerStateError no_stream() { return {}; }

private:
    ServerStateError() : Error(std::string(texts::bad_server_state)) {}
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

// An unrecoverable failure. Its text goes to standard error; called from
// Python it becomes PanicException, on the serve thread it ends the session.
class Fatal : public TextError {
public:
    using TextError::TextError;
};

// "No such file or directory (os error 2)".
std::string os_error_text(int code);

// The detailed rendering used inside fatal texts, naming the error's kind,
// text and number: "EADDRINUSE: Address already in use (os error 98)".
std::string os_error_detail(int code);

}  // namespace vantu
