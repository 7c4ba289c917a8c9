// A serve loop's work as steps that never block on the socket: the loop
// says what it waits for next (descriptors and a deadline), and whoever
// drives it (the serve thread, with poll) tells it when that wait is over.
// Each step reads what is ready, answers a knock at the listener, takes a
// stop message or acts on a deadline; actions run inside a step, on the
// driving thread.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string>

#include "base/console.hpp"
#include "server/inbound.hpp"
#include "server/poll.hpp"
#include "server/loop_start.hpp"

namespace vantu {

class ServeSteps {
public:
    explicit ServeSteps(LoopStart start);
    ~ServeSteps();
    ServeSteps(const ServeSteps&) = delete;
    ServeSteps& operator=(const ServeSteps&) = delete;

    struct Wait {
        std::array<pollfd, 5> fds{};
        std::size_t count = 0;
        Deadline deadline = Deadline::never();
        std::span<pollfd> entries() { return {fds.data(), count}; }
    };

    bool done() const { return phase_ == Phase::done; }
    // What to wait for before the next step.
    Wait next_wait();
    // The step that the end of `wait` calls for: what became ready, or the
    // deadline.
    void step(const Wait& wait);
    // At the loop's normal end: lets go of the connection and the table,
    // then of the runner, whose last step may wait for the interpreter lock.
    void finish();

private:
    enum class Phase {
        claim,    // waiting for the loop it takes over from to pass its reader
        nap,      // the pause before a read
        wait,     // waiting for the client's bytes
        closing,  // the session is over: waiting for close()
        done,
    };
    // Why dispatching stopped before the bytes ran out.
    enum class Halt { drained, stop, over, pass, closed };

    void step_claim();
    void step_wait(const Wait& wait);
    void rest(bool pause);
    void check_stop();
    void read_and_dispatch();
    std::optional<std::size_t> read_once();
    void end_of_stream();
    Halt dispatch();
    std::optional<Halt> gate();
    std::optional<Frame> next_frame();
    std::optional<Frame> take_one();
    void read_ahead();
    void answer_knock();
    void heard_from_client();
    void close_down(Goodbye why, std::uint16_t code = 0);
    void stop_sequence();
    void stop_reading();
    void fail(SessionEnd why, std::string text, std::unique_ptr<Handle> exception,
              std::uint16_t close_code, Goodbye goodbye);

    LoopStart start_;
    ServedConnection& served_;
    Session& session_;
    StopReceiver& receiver_;
    const FrameIndex actions_;
    const Progress progress_;
    const bool passes_;
    const int conn_;
    Phase phase_;
    std::unique_ptr<Inbound> inbound_;
    // Whether this loop still reads; and whether it speaks for the session
    // (a loop that passed its reader on leaves the session to the next).
    bool reading_ = true;
    bool owns_session_ = true;
    // Takes over reading ahead: the end of the stream, or the client's
    // goodbye, met behind frames still queued.
    bool end_of_stream_ = false;
    bool closed_by_client_ = false;
    std::optional<Taken> failure_ahead_;
    int listener_fd_ = -1;
    int over_fd_ = -1;
    Deadline nap_until_ = Deadline::never();
    Deadline idle_ = Deadline::never();
    Deadline next_ask_ = Deadline::never();
};

}  // namespace vantu
