// A point in time on the monotonic clock by which a wait must end, or none.
// Waits take deadlines instead of durations, so that a wait resumed after a
// signal or a spurious wake-up does not start its time over.
#pragma once

#include <time.h>

#include <optional>

namespace vantu {

class Deadline {
public:
    // No end: the wait lasts until its event.
    static Deadline never() { return Deadline(); }
    // `seconds` is finite and not negative. Waits beyond about thirty years
    // are cut to that, so that the sum stays within even a 32-bit time_t.
    static Deadline after(double seconds);
    static Deadline after(std::optional<double> seconds) {
        return seconds ? after(*seconds) : never();
    }

    // The one that comes first.
    static Deadline earlier(const Deadline& a, const Deadline& b);

    bool passed() const;
    // What is left, at least zero; null for a wait without end, as ppoll
    // takes it.
    const timespec* remaining(timespec& out) const;

private:
    Deadline() = default;
    explicit Deadline(timespec at) : at_(at) {}
    std::optional<timespec> at_;
};

}  // namespace vantu
