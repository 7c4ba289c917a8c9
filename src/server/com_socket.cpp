// The server object's operations: connecting, serving, stopping, actions
// and result frames.
#include "server/com_socket.hpp"

#include <cstdint>
#include <cstdio>
#include <utility>

#include "base/texts.hpp"
#include "server/address.hpp"
#include "server/serve_loop.hpp"
#include "server/socket.hpp"

namespace vantu {
namespace {

Fd bind_listener(const std::string& address) {
    try {
        return listen_on(resolve_address(address));
    } catch (const OsError& e) {
        throw Fatal(std::string(texts::listener_failed) + os_error_detail(e.code()));
    } catch (const Error& e) {
        throw Fatal(std::string(texts::listener_failed) + e.text());
    }
}

[[noreturn]] void fail_accept(const OsError& e) {
    throw Fatal(std::string(texts::accept_failed) + os_error_detail(e.code()));
}

std::string send_timeout_text(double seconds) {
    char text[128];
    std::snprintf(text, sizeof text,
                  "the client read nothing for %g s; the connection is shut down", seconds);
    return text;
}

}  // namespace

bool ComSocketServer::accept(const Deadline& deadline, Waiter& waiter) {
    Fd listener = bind_listener(address_);
    const auto cancel = std::make_shared<Fd>(new_event_fd());
    accept_cancel_ = cancel;
    // Also when the wait ends in an exception, such as KeyboardInterrupt.
    struct Disarm {
        ComSocketServer& server;
        const std::shared_ptr<Fd>& cancel;
        ~Disarm() {
            if (server.accept_cancel_ == cancel) server.accept_cancel_.reset();
        }
    } disarm{*this, cancel};
    Fd connection;
    try {
        connection = wait_for_client(listener, cancel->get(), deadline, waiter);
    } catch (const OsError& e) {
        fail_accept(e);
    }
    if (!connection) return false;
    adopt(std::move(connection));
    return true;
}

void ComSocketServer::adopt(Fd connection) {
    stream_ = std::move(connection);
    stream_session_.reset();
    stream_broken_ = false;
}

void ComSocketServer::serve() {
    if (!stream_) throw ServerStateError::no_stream();
    Fd connection = duplicate(stream_.get());
    ActionTable table = clone_action_registry(actions_);
    StopChannel channel = make_stop_channel();
    stop_sender_ = std::move(channel.sender);
    session_ = std::make_shared<Session>();
    stream_session_ = session_;
    loop_settings_of_last_serve_ = loop_settings_;
    start_serve_loop({std::move(channel.receiver), std::move(connection), std::move(table),
                      loop_settings_, session_, make_runner_()});
}

void ComSocketServer::close() {
    if (accept_cancel_) signal_event(accept_cancel_->get());
    if (stop_sender_) {
        if (stop_sender_->send()) {
            if (session_) session_->end();
            // The loop shuts the connection down through its own duplicate.
            stream_.reset();
            return;
        }
        // A live loop ends only through close() (or with its object), so a
        // repeated close() need not fail: it acts as if no loop had run.
        if (!loop_settings_of_last_serve_.live()) throw Error(std::string(texts::closed_channel));
    }
    if (!stream_) return;
    shutdown_both(stream_.get());
    stream_.reset();
}

std::shared_ptr<const Session> ComSocketServer::wait(const Deadline& deadline,
                                                     Waiter& waiter) const {
    if (!session_) throw ServerStateError::no_stream();
    // A copy: a serve() on another thread may replace session_ meanwhile.
    std::shared_ptr<const Session> session = session_;
    pollfd entry{session->over_fd(), POLLIN, 0};
    if (!session->over() && waiter.wait({&entry, 1}, deadline) != Woken::ready) return nullptr;
    return session;
}

bool ComSocketServer::connected() const {
    return stream_ && !stream_broken_ && !(stream_session_ && stream_session_->over());
}

void ComSocketServer::on(std::uint8_t id, std::string_view widget, std::unique_ptr<Action> action) {
    // A replaced action goes; the key keeps its first spelling.
    auto [entry, added] = actions_.try_emplace(action_identity(id, widget));
    std::swap(entry->second, action);
}

const Action* ComSocketServer::get_action(std::string_view key) const {
    auto found = actions_.find(key);
    return found == actions_.end() ? nullptr : found->second.get();
}

void ComSocketServer::clear_references() {
    // Emptied before the references go: releasing one may run code that
    // looks at this object.
    ActionTable doomed;
    doomed.swap(actions_);
    std::shared_ptr<Session> session = std::move(session_);
    stream_session_.reset();
}

void ComSocketServer::callback(const ResultFrame& frame) {
    if (!stream_) throw ServerStateError::no_stream();
    ByteSink bytes;
    frame.encode(bytes);
    if (send_all(stream_.get(), bytes.bytes(), Deadline::after(send_timeout_))) return;
    // Part of a frame may be on the wire: nothing can follow it on this
    // connection that the client could read correctly.
    try {
        shutdown_both(stream_.get());
    } catch (const OsError&) {
        // The timeout is the failure to report; a connection that cannot
        // even be shut down is no use either way.
    }
    stream_broken_ = true;
    if (stream_session_) stream_session_->end();
    throw TimeoutError(send_timeout_text(*send_timeout_));
}

}  // namespace vantu
