// The serve loop's steps: reading, dispatching, and how a session ends.
#include "server/serve_steps.hpp"

#include <sys/socket.h>

#include <charconv>
#include <exception>
#include <utility>

#include "base/texts.hpp"
#include "server/dispatch.hpp"
#include "server/socket.hpp"

namespace vantu {
namespace {

// Ends the session on a failure: `text` goes to standard error, the rest
// to wait(). It keeps this one form from where it is raised to where it is
// printed.
struct LoopFailure {
    SessionEnd why;
    std::string text;
    std::unique_ptr<Handle> exception;
    std::uint16_t close_code = 0;
};

[[noreturn]] void fail_read(const OsError& e) {
    throw LoopFailure{SessionEnd::ended, std::string(texts::read_failed) + e.text(), {}};
}

void print_received(const Progress& progress, std::size_t count) {
    char digits[24];
    auto end = std::to_chars(digits, digits + sizeof digits, count).ptr;
    progress.line({texts::received, std::string_view(digits, end - digits)});
}

bool ready_now(int fd) {
    pollfd entry{fd, POLLIN, 0};
    try {
        return poll_until({&entry, 1}, Deadline::after(0.0), OnSignal::retry) == Woken::ready;
    } catch (const OsError&) {
        return false;
    }
}

Goodbye goodbye_for(SessionEnd why) {
    switch (why) {
        case SessionEnd::ended: return Goodbye::going_away;
        case SessionEnd::action_raised: return Goodbye::failed_action;
        case SessionEnd::undecodable: return Goodbye::failed_frame;
    }
    return Goodbye::going_away;
}

// The entries of a wait, by what they are.
enum Entry : std::size_t { conn_entry, stop_entry, listener_entry, over_entry, asked_entry };

}  // namespace

ServeSteps::ServeSteps(LoopStart start)
    : start_(std::move(start)),
      served_(*start_.served),
      session_(*start_.serving.session),
      receiver_(start_.serving.receiver),
      actions_(start_.table),
      progress_(start_.settings.progress),
      passes_(start_.settings.live()),
      conn_(served_.connection().fd()) {
    // With takeover, the loop also watches the listener, where a returning
    // client knocks, and the end of its session, which an allowed newcomer
    // brings about.
    if (start_.listener) listener_fd_ = start_.listener->fd();
    if (start_.takeover) over_fd_ = session_.decided_fd();
    if (start_.serving.turn.waits) {
        phase_ = Phase::claim;
        return;
    }
    inbound_ = std::make_unique<Inbound>(served_.transport());
    heard_from_client();
    rest(true);
}

ServeSteps::~ServeSteps() {
    stop_reading();
    // A session is over at the latest when its loop is gone, also when the
    // interpreter ends the thread at exit.
    if (owns_session_) session_.end();
}

void ServeSteps::finish() {
    start_.served.reset();
    start_.table.clear();
    start_.runner->finish();
}

ServeSteps::Wait ServeSteps::next_wait() {
    Wait wait;
    auto add = [&](int fd) { wait.fds[wait.count++] = {fd, POLLIN, 0}; };
    const int asked = start_.serving.turn.asked->get();
    switch (phase_) {
        case Phase::claim:
            add(served_.relay().passed_fd());
            add(receiver_.wake_fd());
            add(asked);
            break;
        case Phase::nap:
        case Phase::wait:
            add(phase_ == Phase::wait ? conn_ : -1);
            add(receiver_.wake_fd());
            add(listener_fd_);
            add(over_fd_);
            add(asked);
            wait.deadline = phase_ == Phase::nap ? nap_until_ : Deadline::earlier(idle_, next_ask_);
            break;
        case Phase::closing:
            add(receiver_.wake_fd());
            add(receiver_.gone_fd());
            break;
        case Phase::done:
            break;
    }
    return wait;
}

void ServeSteps::step(const Wait& wait) {
    try {
        switch (phase_) {
            case Phase::claim: return step_claim();
            case Phase::nap: return check_stop();
            case Phase::wait: return step_wait(wait);
            case Phase::closing:
                switch (receiver_.try_receive()) {
                    case Receive::message: return stop_sequence();
                    case Receive::disconnected: phase_ = Phase::done; return;
                    case Receive::empty: return;
                }
                return;
            case Phase::done: return;
        }
    } catch (LoopFailure& failure) {
        fail(failure.why, std::move(failure.text), std::move(failure.exception),
             failure.close_code, goodbye_for(failure.why));
    } catch (const TextError& e) {
        fail(SessionEnd::ended, e.text(), {}, 0, Goodbye::going_away);
    } catch (const std::exception& e) {
        fail(SessionEnd::ended, e.what(), {}, 0, Goodbye::going_away);
    }
}

// Only the module's own failures come here: when the interpreter ends this
// thread during finalization, the unwinding must pass through.
void ServeSteps::fail(SessionEnd why, std::string text, std::unique_ptr<Handle> exception,
                      std::uint16_t close_code, Goodbye goodbye) {
    report_fatal(text);
    session_.end(why, std::move(text), std::move(exception));
    stop_reading();
    if (phase_ == Phase::closing) {
        phase_ = Phase::done;
        return;
    }
    // A live loop shuts the connection down at once, so that the client
    // sees the end, and stays until close(); a loop with the defaults just
    // ends, leaving the connection to the object, after the transport's
    // last word (a WebSocket's close frame with its code; raw TCP has none).
    if (!start_.settings.live()) {
        served_.transport().goodbye(served_, goodbye, close_code);
        phase_ = Phase::done;
        return;
    }
    try {
        close_down(goodbye, close_code);
    } catch (const LoopFailure& failure) {
        report_fatal(failure.text);
        phase_ = Phase::done;
    }
}

void ServeSteps::step_claim() {
    ReaderRelay& relay = served_.relay();
    const std::uint64_t number = start_.serving.turn.number;
    if (receiver_.pending()) return check_stop();
    if (relay.superseded(number)) {
        // A newer serve() came before this loop read anything: it ends
        // unseen, and the session goes on with that one.
        owns_session_ = false;
        reading_ = false;
        phase_ = Phase::done;
        return;
    }
    std::optional<std::unique_ptr<Inbound>> passed = relay.receive(number);
    if (!passed) return;
    inbound_ = *passed ? std::move(*passed) : std::make_unique<Inbound>(served_.transport());
    heard_from_client();
    rest(true);
}

// The pause at the start of every cycle, unless the last read left a
// partial frame: its rest is read at once, so that a frame longer than one
// read is not held back a cycle per read.
void ServeSteps::rest(bool pause) {
    if (pause && start_.settings.cycle > 0) {
        nap_until_ = Deadline::after(start_.settings.cycle);
        phase_ = Phase::nap;
        return;
    }
    check_stop();
}

void ServeSteps::check_stop() {
    switch (receiver_.try_receive()) {
        case Receive::message: return stop_sequence();
        case Receive::disconnected:
            // A loop that passes its reader to a newer one ends quietly.
            if (!(passes_ && served_.relay().asked(start_.serving.turn.number))) {
                progress_.line({texts::link_broken});
            }
            break;
        case Receive::empty: break;
    }
    phase_ = Phase::wait;
}

void ServeSteps::step_wait(const Wait& wait) {
    auto ready = [&](Entry entry) { return wait.fds[entry].revents != 0; };
    if (ready(asked_entry)) {
        served_.relay().pass(start_.serving.turn.number, std::move(inbound_));
        reading_ = false;
        owns_session_ = false;
        phase_ = Phase::done;
        return;
    }
    // The client that was replaced is not read any more.
    if (ready(over_entry) && !ready(stop_entry)) return close_down(Goodbye::going_away);
    if (ready(conn_entry)) return read_and_dispatch();
    if (ready(stop_entry)) return check_stop();
    if (ready(listener_entry)) {
        answer_knock();
        return check_stop();
    }
    if (idle_.passed()) {
        session_.end();
        return close_down(Goodbye::going_away);
    }
    if (next_ask_.passed()) {
        served_.transport().ask_for_life(served_);
        next_ask_ = Deadline::after(*start_.settings.idle_timeout / 3);
    }
}

std::optional<std::size_t> ServeSteps::read_once() {
    const std::span<std::uint8_t> space = inbound_->buffer.read_space();
    if (space.empty()) return std::nullopt;
    try {
        const auto n = check_syscall_unless_busy(
            [&] { return ::recv(conn_, space.data(), space.size(), MSG_DONTWAIT); });
        if (!n) return std::nullopt;
        inbound_->buffer.commit(static_cast<std::size_t>(*n));
        print_received(progress_, static_cast<std::size_t>(*n));
        if (*n == 0) end_of_stream_ = true;
        else heard_from_client();
        return static_cast<std::size_t>(*n);
    } catch (const OsError& e) {
        fail_read(e);
    }
}

void ServeSteps::heard_from_client() {
    idle_ = Deadline::after(start_.settings.idle_timeout);
    if (start_.settings.idle_timeout && served_.transport().asks_for_life()) {
        next_ask_ = Deadline::after(*start_.settings.idle_timeout / 3);
    }
}

void ServeSteps::read_and_dispatch() {
    if (!read_once() && !end_of_stream_) return;
    switch (dispatch()) {
        case Halt::drained:
            if (end_of_stream_) return end_of_stream();
            return rest(inbound_->buffer.empty());
        case Halt::stop: return check_stop();
        case Halt::over: return close_down(Goodbye::going_away);
        case Halt::pass:
            served_.relay().pass(start_.serving.turn.number, std::move(inbound_));
            reading_ = false;
            owns_session_ = false;
            phase_ = Phase::done;
            return;
        case Halt::closed:
            // The client's goodbye was answered: the connection has no more
            // to carry, whatever the loop's settings.
            session_.end();
            return close_down(Goodbye::normal);
    }
}

void ServeSteps::end_of_stream() {
    // A client that closed in the middle of a frame sent one that does not
    // decode.
    if (!inbound_->cut_text.empty()) {
        throw LoopFailure{SessionEnd::undecodable, std::string(inbound_->cut_text), {}};
    }
    session_.end();
    end_of_stream_ = false;
    if (start_.settings.live()) return close_down(Goodbye::normal);
    rest(true);
}

// Runs the frames the buffer holds, in order, looking before each one at
// what may end the session or take the reader over. What the runner keeps
// between the frames of this burst it gives back before the next wait.
ServeSteps::Halt ServeSteps::dispatch() {
    struct Pause {
        ActionRunner& runner;
        ~Pause() { runner.pause(); }
    } pause{*start_.runner};
    for (;;) {
        if (std::optional<Halt> halt = gate()) return *halt;
        std::optional<Frame> frame = next_frame();
        if (!frame) return closed_by_client_ ? Halt::closed : Halt::drained;
        ActionScope scope(session_);
        if (!scope.started()) return Halt::over;
        if (auto failure = execute_action(actions_, *frame, *start_.runner, progress_)) {
            throw LoopFailure{SessionEnd::action_raised,
                              std::string(texts::action_failed) + failure->text,
                              std::move(failure->exception)};
        }
    }
}

std::optional<ServeSteps::Halt> ServeSteps::gate() {
    if (passes_ && served_.relay().asked(start_.serving.turn.number)) return Halt::pass;
    if (receiver_.pending()) return Halt::stop;
    if (listener_fd_ >= 0 && ready_now(listener_fd_)) answer_knock();
    if (session_.over()) return Halt::over;
    return std::nullopt;
}

std::optional<Frame> ServeSteps::next_frame() {
    if (!start_.settings.coalesce) return take_one();
    // Every byte that has arrived is read and taken first, so that a
    // position with a newer one behind it is known to be stale.
    FrameQueue& ahead = inbound_->ahead;
    read_ahead();
    while (!ahead.full() && !failure_ahead_ && !closed_by_client_) {
        std::optional<Frame> frame = take_one();
        if (!frame) break;
        ahead.push(*frame);
    }
    if (std::optional<Frame> frame = ahead.next()) return frame;
    if (failure_ahead_) {
        Taken failed = std::move(*failure_ahead_);
        failure_ahead_.reset();
        throw LoopFailure{SessionEnd::undecodable, std::move(failed.failure), {},
                          failed.close_code};
    }
    return std::nullopt;
}

std::optional<Frame> ServeSteps::take_one() {
    for (;;) {
        const std::span<std::uint8_t> bytes = inbound_->buffer.bytes();
        if (bytes.empty()) {
            inbound_->cut_text = {};
            return std::nullopt;
        }
        Taken taken = inbound_->reader->take(bytes, served_);
        inbound_->buffer.consume(taken.used);
        switch (taken.kind) {
            case Taken::Kind::frame: return taken.frame;
            case Taken::Kind::control: continue;
            case Taken::Kind::more: inbound_->cut_text = taken.cut_text; return std::nullopt;
            case Taken::Kind::closed: closed_by_client_ = true; return std::nullopt;
            case Taken::Kind::failed:
                if (start_.settings.coalesce) {
                    failure_ahead_ = std::move(taken);
                    return std::nullopt;
                }
                throw LoopFailure{SessionEnd::undecodable, std::move(taken.failure), {},
                                  taken.close_code};
        }
    }
}

void ServeSteps::read_ahead() {
    while (!end_of_stream_ && read_once()) {
    }
}

// A client at the listener: turned away, or let in, which ends the session.
// A listener that was closed or fails is not watched any more.
void ServeSteps::answer_knock() {
    Listener& listener = *start_.listener;
    try {
        if (!listener.closed()) return listener.admit(start_.allow.get(), *start_.admission);
    } catch (const OsError& e) {
        if (!listener.closed()) {
            write_line(2, {"No takeover in this session: the listener failed: ", e.text()});
        }
    }
    listener_fd_ = -1;
}

// The session is over: the connection is shut down, so that the client
// sees the end at once, and the loop waits for close().
void ServeSteps::close_down(Goodbye why, std::uint16_t code) {
    stop_reading();
    phase_ = Phase::closing;
    served_.transport().goodbye(served_, why, code);
    try {
        shutdown_both(conn_);
    } catch (const OsError& e) {
        throw LoopFailure{SessionEnd::ended, std::string(texts::shutdown_failed) + e.text(), {}};
    }
}

void ServeSteps::stop_sequence() {
    progress_.line({texts::terminating});
    session_.end();
    stop_reading();
    phase_ = Phase::done;
    served_.transport().goodbye(served_, Goodbye::normal, 0);
    try {
        shutdown_both(conn_);
    } catch (const OsError& e) {
        throw LoopFailure{SessionEnd::ended, std::string(texts::shutdown_failed) + e.text(), {}};
    }
}

// A newer loop that waits for this one's reader gets a fresh one.
void ServeSteps::stop_reading() {
    if (!reading_) return;
    reading_ = false;
    if (passes_ || start_.serving.turn.waits) {
        served_.relay().pass(start_.serving.turn.number, nullptr);
    }
}

}  // namespace vantu
