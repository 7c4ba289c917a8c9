// How a serve loop runs. serve() hands each loop a copy, so a change
// reaches the next loop, never a running one.
#pragma once

#include <optional>

namespace vantu {

struct LoopSettings {
    static constexpr double default_cycle = 0.5;

    // Seconds of pause before each read; 0 reads each frame as it comes.
    double cycle = default_cycle;
    // Whether the loop prints its progress lines on standard output.
    bool progress = true;
    // Seconds without a byte after which the client counts as gone.
    std::optional<double> idle_timeout;
    // Whether a position (a joystick's, a pad's) that waits behind a newer
    // one of the same widget is skipped.
    bool coalesce = false;

    // A loop left at the defaults behaves as it always has: a failure ends
    // it, and a client that left is read again every cycle. Any change
    // makes it a live loop, which shuts the connection down when its
    // session ends and stays until close(). Skipping stale positions is
    // about which frames run, not about how the loop lives.
    bool live() const { return cycle != default_cycle || !progress || idle_timeout; }
};

}  // namespace vantu
