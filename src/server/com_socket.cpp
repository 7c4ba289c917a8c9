// The server object's operations: connecting, serving, stopping, actions
// and result frames.
#include "server/com_socket.hpp"

#include <cstdint>
#include <cstdio>
#include <utility>

#include "base/identity_key.hpp"
#include "base/texts.hpp"
#include "server/address.hpp"
#include "server/raw_transport.hpp"
#include "server/serve_loop.hpp"
#include "server/socket.hpp"
#include "server/web_page.hpp"

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

std::shared_ptr<Listener> ComSocketServer::listener_for_accept() {
    if (const std::shared_ptr<Listener>& kept = listener_.get(); kept && !kept->closed()) return kept;
    auto listener = std::make_shared<Listener>(bind_listener(address_));
    if (takeover_) listener_.keep(listener);
    return listener;
}

void ComSocketServer::start_web() {
    if (!web_) {
        web_server_.reset();
        return;
    }
    if (!web_server_ || web_bound_for_ != *web_) {
        web_server_.reset();
        Fd socket;
        try {
            socket = listen_on(resolve_address(*web_));
        } catch (const OsError& e) {
            throw Fatal("Unable to listen for the web page on " + *web_ + ". " +
                        os_error_detail(e.code()));
        } catch (const Error& e) {
            throw Fatal("Unable to listen for the web page on " + *web_ + ". " + e.text());
        }
        web_server_ = std::make_unique<WebServer>(std::move(socket), admission_);
        web_bound_for_ = *web_;
        publish_page();
    }
    web_server_->set_policy(allow_, takeover_, web_hosts_);
}

std::optional<std::string> ComSocketServer::web_address() const {
    if (!web_server_) return std::nullopt;
    return web_server_->address();
}

void ComSocketServer::publish_page() {
    if (web_server_) web_server_->set_page(render_page(title_.value_or(""), actions_));
}

bool ComSocketServer::accept(const Deadline& deadline, Waiter& waiter) {
    start_web();
    const std::shared_ptr<Listener> listener = listener_for_accept();
    const std::shared_ptr<const AllowList> allow = allow_;
    const auto cancel = std::make_shared<Fd>(new_event_fd());
    accept_cancel_ = cancel;
    // Also when the wait ends in an exception, such as KeyboardInterrupt.
    struct Disarm {
        ComSocketServer& server;
        const std::shared_ptr<Fd>& cancel;
        const std::shared_ptr<Listener>& listener;
        const bool keep;
        ~Disarm() {
            if (server.accept_cancel_ == cancel) server.accept_cancel_.reset();
            // Without takeover, the listener exists only while accept() waits.
            if (keep) return;
            listener->close();
            if (server.listener_.get() == listener) server.listener_.close();
        }
    } disarm{*this, cancel, listener, takeover_};
    Newcomer newcomer;
    try {
        newcomer = wait_for_newcomer(*admission_, cancel->get(), listener.get(), allow.get(),
                                     deadline, waiter);
    } catch (const OsError& e) {
        fail_accept(e);
    }
    if (!newcomer) return false;
    adopt(std::move(newcomer));
    return true;
}

void ComSocketServer::adopt(Newcomer newcomer) {
    let_go_of_held();
    held_ = std::make_shared<ServedConnection>(std::move(newcomer.connection),
                                               std::move(newcomer.transport));
    admission_->hold(held_);
}

void ComSocketServer::let_go_of_held() {
    // A callback still waiting on it raises instead of waiting on.
    if (held_) held_->connection().cancel_sends();
    held_.reset();
    admission_->hold(nullptr);
}

void ComSocketServer::serve() {
    if (!held_) throw ServerStateError::no_stream();
    ActionTable table = clone_action_registry(actions_);
    ServedConnection::Serving serving = held_->serve(loop_settings_);
    // The loop of an earlier connection goes on unstoppable, as it always
    // has: its channel is disconnected.
    if (served_ && served_ != held_) served_->release_stop();
    served_ = held_;
    std::shared_ptr<Listener> listener = takeover_ ? listener_.get() : nullptr;
    if (takeover_) admission_->serve(serving.session);
    start_serve_loop({held_, std::move(serving), std::move(table), loop_settings_, make_runner_(),
                      std::move(listener), admission_, allow_, takeover_});
}

void ComSocketServer::close() {
    if (accept_cancel_) signal_event(accept_cancel_->get());
    if (!held_) {
        listener_.close();
        admission_->drop();
        web_server_.reset();
    }
    if (served_ && served_->served()) {
        // Sends on the held connection are cancelled before the loop can
        // shut it down, so that a callback waiting on it reports close(),
        // not the broken pipe that follows; and only if the loop is there
        // to take the message, in the same step.
        const bool stopped = served_->stop_loop([&] {
            if (held_) held_->connection().cancel_sends();
        });
        if (stopped) {
            if (const std::shared_ptr<Session> session = served_->session()) session->end();
            // The loop shuts the connection down.
            held_.reset();
            return;
        }
        // A live loop ends only through close() (or with its object), so a
        // repeated close() need not fail: it acts as if no loop had run.
        if (!served_->settings().live()) throw Error(std::string(texts::closed_channel));
    }
    if (!held_) return;
    held_->connection().cancel_sends();
    shutdown_both(held_->connection().fd());
    let_go_of_held();
}

std::shared_ptr<const Session> ComSocketServer::last_session() const {
    return served_ ? served_->session() : nullptr;
}

std::shared_ptr<const Session> ComSocketServer::wait(const Deadline& deadline,
                                                     Waiter& waiter) const {
    // A copy: a serve() on another thread may start another session meanwhile.
    std::shared_ptr<const Session> session = last_session();
    if (!session) throw ServerStateError::no_stream();
    // Inside the session's own action, the wait cannot be for that action
    // to return: it is for the end to be decided.
    const int fd = ActionScope::running(*session) ? session->decided_fd() : session->final_fd();
    pollfd entry{fd, POLLIN, 0};
    if (waiter.wait({&entry, 1}, deadline) != Woken::ready) return nullptr;
    return session;
}

bool ComSocketServer::connected() const {
    if (!held_ || held_->connection().broken()) return false;
    const std::shared_ptr<Session> session = held_->session();
    return !(session && session->over());
}

void ComSocketServer::on(std::uint8_t id, std::string_view widget, std::unique_ptr<Action> action) {
    // A replaced action goes; the key keeps its first spelling.
    auto [entry, added] = actions_.try_emplace(action_identity(id, widget));
    std::swap(entry->second, action);
    publish_page();
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
    if (served_) {
        if (const std::shared_ptr<Session> session = served_->session()) session->release_exception();
    }
}

void ComSocketServer::callback(const ResultFrame& frame, Waiter& waiter) {
    if (!held_) throw ServerStateError::no_stream();
    // Copies: while the waiter lets other threads in, close() or accept()
    // may replace any of these.
    const std::shared_ptr<ServedConnection> connection = held_;
    const std::optional<double> timeout = send_timeout_;
    ByteSink bytes;
    frame.encode(bytes);
    struct EndIfBroken {
        const ServedConnection& connection;
        ~EndIfBroken() {
            if (!connection.connection().broken()) return;
            // An action that was sending reports its own failure, whatever
            // it makes of this one: its loop ends the session then.
            const std::shared_ptr<Session> session = connection.session();
            if (session && !ActionScope::running(*session)) session->end();
        }
    } end_if_broken{*connection};
    switch (connection->send_result(bytes.bytes(), Deadline::after(timeout), waiter)) {
        case Sent::whole: return;
        case Sent::timed_out: throw TimeoutError(send_timeout_text(*timeout));
        case Sent::cancelled: throw ServerStateError::no_stream();
    }
}

}  // namespace vantu
