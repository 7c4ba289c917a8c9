#include "server/fd.hpp"

#include <unistd.h>

namespace vantu {

void Fd::reset(int fd) {
    // close() is not retried on EINTR: on Linux the descriptor is released
    // whatever it reports.
    if (fd_ >= 0) ::close(fd_);
    fd_ = fd;
}

}  // namespace vantu
