// Deadlines on the monotonic clock.
#include "server/deadline.hpp"

#include <cmath>

namespace vantu {
namespace {

constexpr long nanos_per_second = 1'000'000'000;
constexpr double longest_wait = 1e9;

timespec now() {
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return ts;
}

bool before(const timespec& a, const timespec& b) {
    return a.tv_sec < b.tv_sec || (a.tv_sec == b.tv_sec && a.tv_nsec < b.tv_nsec);
}

}  // namespace

Deadline Deadline::after(double seconds) {
    const double wait = std::fmin(seconds, longest_wait);
    const double whole = std::floor(wait);
    timespec at = now();
    at.tv_sec += static_cast<time_t>(whole);
    at.tv_nsec += static_cast<long>((wait - whole) * nanos_per_second);
    if (at.tv_nsec >= nanos_per_second) {
        at.tv_sec += 1;
        at.tv_nsec -= nanos_per_second;
    }
    return Deadline(at);
}

Deadline Deadline::earlier(const Deadline& a, const Deadline& b) {
    if (!a.at_) return b;
    if (!b.at_) return a;
    return before(*b.at_, *a.at_) ? b : a;
}

bool Deadline::passed() const { return at_ && !before(now(), *at_); }

const timespec* Deadline::remaining(timespec& out) const {
    if (!at_) return nullptr;
    const timespec current = now();
    if (!before(current, *at_)) {
        out = {0, 0};
        return &out;
    }
    out.tv_sec = at_->tv_sec - current.tv_sec;
    out.tv_nsec = at_->tv_nsec - current.tv_nsec;
    if (out.tv_nsec < 0) {
        out.tv_sec -= 1;
        out.tv_nsec += nanos_per_second;
    }
    return &out;
}

}  // namespace vantu
