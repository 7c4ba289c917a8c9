// The texts of system errors.
#include "base/error.hpp"

#include <cstring>

#include "base/texts.hpp"

namespace vantu {

std::string os_error_text(int code) {
    // strerror_r's GNU form may return a static string instead of filling ours.
    char buf[256];
    std::string text = strerror_r(code, buf, sizeof buf);
    text.append(texts::os_error_open).append(std::to_string(code)).append(texts::os_error_close);
    return text;
}

std::string os_error_detail(int code) {
    const char* name = strerrorname_np(code);
    std::string text = name ? name : "unknown error";
    text.append(": ").append(os_error_text(code));
    return text;
}

OsError::OsError(int code) : Error(os_error_text(code)), code_(code) {}

}  // namespace vantu
