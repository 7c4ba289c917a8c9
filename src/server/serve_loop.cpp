// The serve loop's thread: reading, dispatching, and how a session ends.
#include "server/serve_loop.hpp"

#include <pthread.h>
#include <sys/socket.h>

#include <charconv>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <exception>
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <utility>
#include <variant>

#include "base/console.hpp"
#include "base/frame.hpp"
#include "base/texts.hpp"
#include "server/poll.hpp"
#include "server/receive_buffer.hpp"
#include "server/dispatch.hpp"
#include "server/socket.hpp"

namespace vantu {
namespace {

// Enough for the decoder and for Python code the actions run, whatever
// stack size the environment would hand a new thread.
constexpr std::size_t thread_stack_size = 8 * 1024 * 1024;

struct LoopState {
    explicit LoopState(LoopStart what)
        : start(std::move(what)), actions(start.table), progress(start.settings.progress) {}

    LoopStart start;
    const FrameIndex actions;
    Progress progress;

    // A session is over at the latest when its loop is gone, also when the
    // interpreter ends the thread at exit.
    ~LoopState() { start.session->end(); }
};

// Ends the session on a failure: `text` goes to standard error, the rest
// to wait(). It keeps this one form from where it is raised to where it is
// printed.
struct LoopFailure {
    SessionEnd why;
    std::string text;
    std::unique_ptr<Handle> exception;
};

[[noreturn]] void fail_read(const OsError& e) {
    throw LoopFailure{SessionEnd::ended, std::string(texts::read_failed) + e.text(), {}};
}

// With takeover, what the loop watches besides its client: the listener,
// where a returning client knocks, and the end of its session, which an
// allowed newcomer brings about. A descriptor of -1 is not watched.
struct Watch {
    int listener = -1;
    int over = -1;
};

// The pause at the start of every cycle. It ends early when a stop message
// is queued or a watched descriptor is ready, and resumes for the remaining
// time after a signal.
void nap(int wake_fd, const Watch& watch, double cycle) {
    if (cycle == 0) return;
    pollfd entries[3] = {{wake_fd, POLLIN, 0}, {watch.listener, POLLIN, 0}, {watch.over, POLLIN, 0}};
    try {
        poll_until(entries, Deadline::after(cycle), OnSignal::retry);
    } catch (const OsError& e) {
        fail_read(e);
    }
}

enum class Wake { data, stop, idle, knock, replaced };

// Waits until the client sent something (or closed), a stop message is
// queued, the client stayed silent past the deadline (close() must not
// depend on the client sending one more frame), or, with takeover, a client
// knocks or a newcomer ended the session.
Wake wait_for_data(int conn, int wake_fd, const Watch& watch, const Deadline& idle) {
    pollfd entries[4] = {{conn, POLLIN, 0}, {wake_fd, POLLIN, 0},
                         {watch.listener, POLLIN, 0}, {watch.over, POLLIN, 0}};
    try {
        if (poll_until(entries, idle, OnSignal::retry) == Woken::timed_out) return Wake::idle;
    } catch (const OsError& e) {
        fail_read(e);
    }
    // The client that was replaced is not read any more.
    if (entries[3].revents && !entries[1].revents) return Wake::replaced;
    if (entries[0].revents) return Wake::data;
    return entries[1].revents ? Wake::stop : Wake::knock;
}

// A client at the listener: turned away, or let in, which ends the session.
// A listener that was closed or fails is not watched any more.
void answer_knock(LoopState& loop, Watch& watch) {
    Listener& listener = *loop.start.listener;
    try {
        if (!listener.closed()) return listener.admit(loop.start.allow.get());
    } catch (const OsError& e) {
        if (!listener.closed()) {
            write_line(2, {"No takeover in this session: the listener failed: ", e.text()});
        }
    }
    watch.listener = -1;
}

std::size_t read_some(int conn, ReceiveBuffer& buffer) {
    const std::span<std::uint8_t> space = buffer.read_space();
    try {
        const auto n = check_syscall([&] { return ::recv(conn, space.data(), space.size(), 0); });
        buffer.commit(static_cast<std::size_t>(n));
        return static_cast<std::size_t>(n);
    } catch (const OsError& e) {
        fail_read(e);
    }
}

void print_received(const Progress& progress, std::size_t count) {
    char digits[24];
    auto end = std::to_chars(digits, digits + sizeof digits, count).ptr;
    progress.line({texts::received, std::string_view(digits, end - digits)});
}

// Dispatches every complete frame in the buffer, in order, and keeps a
// trailing partial frame for the next read: then the text that frame fails
// with if the stream ends before it does (one of the frozen texts), else
// empty. What the runner keeps between the frames of this burst it gives
// back before the next wait.
std::string_view dispatch_frames(LoopState& loop, ReceiveBuffer& buffer) {
    struct Pause {
        ActionRunner& runner;
        ~Pause() { runner.pause(); }
    } pause{*loop.start.runner};
    for (;;) {
        auto result = Frame::parse_stream(buffer.bytes());
        if (auto* decoded = std::get_if<Decoded>(&result)) {
            std::optional<ActionFailure> failure;
            {
                ActionScope scope(*loop.start.session);
                failure = execute_action(loop.actions, decoded->frame, *loop.start.runner,
                                         loop.progress);
            }
            if (failure) {
                throw LoopFailure{SessionEnd::action_raised,
                                  std::string(texts::action_failed) + failure->text,
                                  std::move(failure->exception)};
            }
            buffer.consume(decoded->used);
            if (buffer.empty()) return {};
        } else if (auto* error = std::get_if<DecodeError>(&result)) {
            throw LoopFailure{SessionEnd::undecodable, std::move(error->text), {}};
        } else {
            if (buffer.size() > ReceiveBuffer::max_pending) {
                throw LoopFailure{SessionEnd::undecodable,
                                  "Frame too large: more than " +
                                      std::to_string(ReceiveBuffer::max_pending) +
                                      " bytes received without a complete frame",
                                  {}};
            }
            return std::get<Incomplete>(result).text;
        }
    }
}

void stop_sequence(LoopState& loop) {
    loop.progress.line({texts::terminating});
    loop.start.session->end();
    try {
        shutdown_both(loop.start.connection.get());
    } catch (const OsError& e) {
        throw LoopFailure{SessionEnd::ended, std::string(texts::shutdown_failed) + e.text(), {}};
    }
}

enum class Next { end, wait_for_close };

// Serves the client until close() (Next::end) or until the session is
// over for another reason.
Next serve_session(LoopState& loop) {
    ReceiveBuffer buffer;
    const LoopSettings& settings = loop.start.settings;
    const int conn = loop.start.connection.get();
    StopReceiver& receiver = loop.start.receiver;
    const int wake = receiver.wake_fd();
    Deadline idle = Deadline::after(settings.idle_timeout);
    // The loop lets go of the listener with its session: a server that
    // closes it frees the address.
    struct Unwatch {
        std::shared_ptr<Listener>& listener;
        ~Unwatch() { listener.reset(); }
    } unwatch{loop.start.listener};
    Watch watch;
    if (loop.start.listener) watch = {loop.start.listener->fd(), loop.start.session->over_fd()};
    bool pause = true;
    std::string_view cut_frame_text;  // of the partial frame the buffer keeps
    for (;;) {
        if (pause) nap(wake, watch, settings.cycle);
        switch (receiver.try_receive()) {
            case Receive::message: stop_sequence(loop); return Next::end;
            case Receive::disconnected: loop.progress.line({texts::link_broken}); break;
            case Receive::empty: break;
        }
        switch (wait_for_data(conn, wake, watch, idle)) {
            case Wake::stop: pause = false; continue;  // take the stop message now
            case Wake::idle: loop.start.session->end(); return Next::wait_for_close;
            case Wake::replaced: return Next::wait_for_close;
            case Wake::knock: answer_knock(loop, watch); pause = false; continue;
            case Wake::data: break;
        }
        const std::size_t count = read_some(conn, buffer);
        print_received(loop.progress, count);
        if (count == 0) {
            // A client that closed in the middle of a frame sent one that
            // does not decode.
            if (!buffer.empty()) {
                throw LoopFailure{SessionEnd::undecodable, std::string(cut_frame_text), {}};
            }
            loop.start.session->end();
            if (settings.live()) return Next::wait_for_close;
            pause = true;
            continue;
        }
        idle = Deadline::after(settings.idle_timeout);
        cut_frame_text = dispatch_frames(loop, buffer);
        // The rest of a partial frame is read without the pause, so that a
        // frame longer than one read is not held back a cycle per read.
        pause = buffer.empty();
    }
}

// Only the module's own failures are caught: when the interpreter ends
// this thread during finalization, the unwinding must pass through.
Next serve_reporting(LoopState& loop) {
    try {
        return serve_session(loop);
    } catch (LoopFailure& failure) {
        report_fatal(failure.text);
        loop.start.session->end(failure.why, std::move(failure.text),
                                std::move(failure.exception));
    } catch (const TextError& e) {
        report_fatal(e.text());
        loop.start.session->end();
    } catch (const std::exception& e) {
        report_fatal(e.what());
        loop.start.session->end();
    }
    return loop.start.settings.live() ? Next::wait_for_close : Next::end;
}

// A live loop whose session is over shuts the connection down, so that the
// client sees the end at once, and stays until close(), which then stops it
// as usual. With no server object left to call close(), it ends.
void wait_for_close(LoopState& loop) {
    try {
        shutdown_both(loop.start.connection.get());
        if (loop.start.receiver.wait() == Receive::message) stop_sequence(loop);
    } catch (const LoopFailure& failure) {
        report_fatal(failure.text);
    } catch (const TextError& e) {
        report_fatal(e.text());
    } catch (const std::exception& e) {
        report_fatal(e.what());
    }
}

void* loop_main(void* arg) {
    std::unique_ptr<LoopState> loop(static_cast<LoopState*>(arg));
    if (serve_reporting(*loop) == Next::wait_for_close) wait_for_close(*loop);
    // The connection and the table go before the runner's last step, which
    // may wait for the interpreter lock.
    loop->start.connection.reset();
    loop->start.table.clear();
    loop->start.runner->finish();
    return nullptr;
}

}  // namespace

void start_serve_loop(LoopStart start) {
    auto* loop = new LoopState(std::move(start));
    pthread_attr_t attr;
    pthread_attr_init(&attr);
    pthread_attr_setdetachstate(&attr, PTHREAD_CREATE_DETACHED);
    pthread_attr_setstacksize(&attr, thread_stack_size);
    pthread_t thread;
    int rc = pthread_create(&thread, &attr, loop_main, loop);
    pthread_attr_destroy(&attr);
    if (rc != 0) {
        delete loop;
        throw Fatal(std::string(texts::spawn_failed) + ": " + os_error_detail(rc));
    }
}

}  // namespace vantu
