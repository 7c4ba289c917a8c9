// ppoll until a deadline, with EINTR handled as the caller asks.
#include "server/poll.hpp"

#include <cerrno>

#include "base/error.hpp"

namespace vantu {

Woken poll_until(std::span<pollfd> fds, const Deadline& deadline, OnSignal on_signal) {
    for (;;) {
        timespec left{};
        const int ready = ::ppoll(fds.data(), fds.size(), deadline.remaining(left), nullptr);
        if (ready > 0) return Woken::ready;
        if (ready == 0) return Woken::timed_out;
        if (errno != EINTR) throw OsError(errno);
        if (on_signal == OnSignal::wake) return Woken::interrupted;
    }
}

}  // namespace vantu
