// Progress lines and fatal-error messages go straight to file descriptors 1
// and 2, one write per line, so that lines from the serve thread and from
// Python never interleave within a line and Python's sys.stdout redirection
// does not capture them.
#pragma once

#include <initializer_list>
#include <string_view>

namespace vantu {

void write_line(int fd, std::initializer_list<std::string_view> parts);

inline void print_line(std::initializer_list<std::string_view> parts) {
    write_line(1, parts);
}

// The serve loop's progress lines, or nothing when the program asked the
// loop to be quiet.
class Progress {
public:
    explicit Progress(bool on) : on_(on) {}
    bool on() const { return on_; }
    void line(std::initializer_list<std::string_view> parts) const {
        if (on_) print_line(parts);
    }

private:
    bool on_;
};

// The one path of every fatal error's message.
inline void report_fatal(std::string_view message) { write_line(2, {message}); }

}  // namespace vantu
