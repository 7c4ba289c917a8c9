// Who reads a connection. A serve() on a connection that a live loop still
// reads takes over from that loop at a frame boundary: the old loop passes
// its Inbound (the bytes it read but did not dispatch) to the new one and
// ends. A loop with the default settings does not pass: a new loop beside
// it reads with an Inbound of its own, the two competing for the bytes.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>

#include "server/fd.hpp"
#include "server/inbound.hpp"

namespace vantu {

class ReaderRelay {
public:
    ReaderRelay();

    struct Turn {
        std::uint64_t number = 0;
        // Whether the loop waits for the reading loop to pass its Inbound.
        bool waits = false;
        // Readable once a newer loop has claimed the reader from this one.
        std::shared_ptr<const Fd> asked;
    };
    // For a new loop; `passes` whether it passes its Inbound on in turn.
    Turn claim(bool passes);

    // Whether a newer loop has claimed the reader: a loop that passes then
    // passes at its next frame boundary. Free of locks, for every frame.
    bool asked(std::uint64_t number) const {
        return last_.load(std::memory_order_acquire) != number;
    }

    // The loop `number` stops reading: it passes `inbound` to the newest
    // loop if that waits for it (null: the new loop starts afresh).
    void pass(std::uint64_t number, std::unique_ptr<Inbound> inbound);

    // For a waiting loop: its Inbound (null for a fresh one) once passed;
    // nothing yet. A loop that a newer claim overtook while it waited gets
    // nothing ever: superseded() tells it to end.
    std::optional<std::unique_ptr<Inbound>> receive(std::uint64_t number);
    bool superseded(std::uint64_t number) const { return asked(number); }
    // Readable while a passed Inbound waits to be received.
    int passed_fd() const { return passed_.get(); }

private:
    std::atomic<std::uint64_t> last_{0};
    std::mutex mutex_;
    // The loop that reads and passes, if any (0: none).
    std::uint64_t passing_reader_ = 0;
    bool parcel_ready_ = false;
    std::unique_ptr<Inbound> parcel_;
    // The passing reader's: signalled when a newer loop claims.
    std::shared_ptr<const Fd> reader_asked_;
    Fd passed_;
};

}  // namespace vantu
