#include "server/serve_loop.hpp"

#include <poll.h>
#include <pthread.h>
#include <sys/socket.h>
#include <time.h>

#include <charconv>
#include <cstring>
#include <memory>

#include "base/console.hpp"
#include "base/frame.hpp"
#include "binding/gil.hpp"
#include "server/receive_buffer.hpp"
#include "server/server_com.hpp"
#include "server/socket.hpp"

namespace vantu {
namespace {

constexpr int cycle_ms = 500;
// Enough for the decoder and for Python code the actions run, whatever
// stack size the environment would hand a new thread.
constexpr std::size_t thread_stack_size = 8 * 1024 * 1024;

struct LoopState {
    StopReceiver receiver;
    Fd connection;
    ActionTable table;
    py::ThreadGil gil;

    // Runs without the interpreter lock, possibly while the thread is being
    // unwound: the callables' references are queued, not released here.
    ~LoopState() { release_without_gil(table); }
};

std::int64_t now_ms() {
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return std::int64_t(ts.tv_sec) * 1000 + ts.tv_nsec / 1000000;
}

// The pause at the start of every cycle. It ends early when a stop message
// is queued, and resumes for the remaining time after a signal.
void nap(int wake_fd) {
    const std::int64_t deadline = now_ms() + cycle_ms;
    for (std::int64_t left = cycle_ms; left > 0; left = deadline - now_ms()) {
        pollfd entry{wake_fd, POLLIN, 0};
        int ready = ::poll(&entry, 1, static_cast<int>(left));
        if (ready > 0) return;
        if (ready < 0 && errno != EINTR) throw OsError(errno);
    }
}

// Waits until the client sent something (or closed), or a stop message is
// queued: close() must not depend on the client sending one more frame.
bool wait_for_data(int conn, int wake_fd) {
    for (;;) {
        pollfd entries[2] = {{conn, POLLIN, 0}, {wake_fd, POLLIN, 0}};
        int ready = ::poll(entries, 2, -1);
        if (ready < 0 && errno == EINTR) continue;
        if (ready < 0) throw Fatal("Failed to read frame : " + os_error_text(errno));
        if (entries[0].revents) return true;
        if (entries[1].revents) return false;
    }
}

std::size_t read_some(int conn, ReceiveBuffer& buffer) {
    for (;;) {
        std::span<std::uint8_t> space = buffer.read_space();
        ssize_t n = ::recv(conn, space.data(), space.size(), 0);
        if (n >= 0) {
            buffer.commit(static_cast<std::size_t>(n));
            return static_cast<std::size_t>(n);
        }
        if (errno != EINTR) throw Fatal("Failed to read frame : " + os_error_text(errno));
    }
}

void print_received(std::size_t count) {
    char digits[24];
    auto end = std::to_chars(digits, digits + sizeof digits, count).ptr;
    print_line({"Received size : ", std::string_view(digits, end - digits)});
}

// Dispatches every complete frame in the buffer, in order, and keeps a
// trailing partial frame for the next read.
void dispatch_frames(LoopState& loop, ReceiveBuffer& buffer) {
    for (;;) {
        auto result = Frame::parse_stream(buffer.bytes());
        if (auto* decoded = std::get_if<Decoded>(&result)) {
            try {
                execute_action(loop.table, decoded->frame, loop.gil);
            } catch (const Error& e) {
                throw Fatal(std::string("Action failed ") + e.what());
            }
            print_line({"done"});
            buffer.consume(decoded->used);
            if (buffer.empty()) return;
        } else if (auto* error = std::get_if<DecodeError>(&result)) {
            throw Fatal(error->text);
        } else {
            if (buffer.size() > ReceiveBuffer::max_pending) {
                throw Fatal("Frame too large: more than 65536 bytes received without a complete frame");
            }
            return;
        }
    }
}

// A client that closes in the middle of a frame sent a frame that does not
// decode: report it with the decoder's own text.
[[noreturn]] void fail_partial_frame(const ReceiveBuffer& buffer) {
    auto result = Frame::parse(buffer.bytes());
    const auto* error = std::get_if<DecodeError>(&result);
    throw Fatal(error ? error->text : "IO error while reading data: unexpected end of file");
}

void stop_sequence(LoopState& loop) {
    print_line({"Terminating."});
    try {
        shutdown_both(loop.connection.get());
    } catch (const OsError& e) {
        throw Fatal(std::string("Failed to shutdown server: ") + e.what());
    }
}

void run(LoopState& loop) {
    ReceiveBuffer buffer;
    const int conn = loop.connection.get();
    const int wake = loop.receiver.wake_fd();
    bool pause = true;
    for (;;) {
        if (pause) nap(wake);
        switch (loop.receiver.try_receive()) {
            case Receive::message: return stop_sequence(loop);
            case Receive::disconnected: print_line({"Link broken"}); break;
            case Receive::empty: break;
        }
        if (!wait_for_data(conn, wake)) {
            pause = false;  // a stop message is queued: take it now
            continue;
        }
        std::size_t count = read_some(conn, buffer);
        print_received(count);
        if (count == 0) {
            if (!buffer.empty()) fail_partial_frame(buffer);
            pause = true;
            continue;
        }
        dispatch_frames(loop, buffer);
        // The rest of a partial frame is read without the pause, so that a
        // frame longer than one read is not held back a cycle per read.
        pause = buffer.empty();
    }
}

void* loop_main(void* arg) {
    std::unique_ptr<LoopState> loop(static_cast<LoopState*>(arg));
    // Only the module's own errors are caught: when the interpreter ends
    // this thread during finalization, the unwinding must pass through.
    try {
        run(*loop);
    } catch (const std::exception& e) {
        report_fatal(e.what());
    }
    // Release the connection and queue the callables' references before
    // waiting for the interpreter lock to drop the thread state.
    loop->connection.reset();
    release_without_gil(loop->table);
    loop->gil.finish();
    return nullptr;
}

}  // namespace

void start_serve_loop(StopReceiver receiver, Fd connection, ActionTable table) {
    auto* loop = new LoopState{std::move(receiver), std::move(connection), std::move(table), {}};
    pthread_attr_t attr;
    pthread_attr_init(&attr);
    pthread_attr_setdetachstate(&attr, PTHREAD_CREATE_DETACHED);
    pthread_attr_setstacksize(&attr, thread_stack_size);
    pthread_t thread;
    int rc = pthread_create(&thread, &attr, loop_main, loop);
    pthread_attr_destroy(&attr);
    if (rc != 0) {
        delete loop;
        throw Fatal("failed to spawn thread: " + os_error_detail(rc));
    }
}

}  // namespace vantu
