// Whole lines to a file descriptor, one write each.
#include "base/console.hpp"

#include <unistd.h>

#include <cerrno>
#include <cstddef>
#include <cstring>
#include <string>

namespace vantu {
namespace {

void write_all(int fd, const char* bytes, std::size_t size) {
    while (size > 0) {
        ssize_t n = ::write(fd, bytes, size);
        if (n < 0 && errno == EINTR) continue;
        // Output is best effort: a closed or full terminal must not end
        // the program or the serve loop.
        if (n <= 0) return;
        bytes += n;
        size -= static_cast<std::size_t>(n);
    }
}

}  // namespace

void write_line(int fd, std::initializer_list<std::string_view> parts) {
    char small[256];
    std::size_t total = 1;
    for (std::string_view part : parts) total += part.size();
    std::string large;
    char* line = small;
    if (total > sizeof small) {
        large.resize(total);
        line = large.data();
    }
    std::size_t at = 0;
    for (std::string_view part : parts) {
        std::memcpy(line + at, part.data(), part.size());
        at += part.size();
    }
    line[at++] = '\n';
    write_all(fd, line, at);
}

}  // namespace vantu
