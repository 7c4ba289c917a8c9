// The TCP server object: one client at a time, the action table, the
// connection it holds and the one it served last. Plain C++: the binding
// layer converts every Python value before it gets here.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "base/result_frame.hpp"
#include "server/action_runner.hpp"
#include "server/admission.hpp"
#include "server/allow_list.hpp"
#include "server/deadline.hpp"
#include "server/fd.hpp"
#include "server/listener.hpp"
#include "server/loop_settings.hpp"
#include "server/models/action_table.hpp"
#include "server/poll.hpp"
#include "server/served_connection.hpp"
#include "server/session.hpp"
#include "server/web_server.hpp"

namespace vantu {

class ComSocketServer final {
public:
    // Makes the ActionRunner of each serve loop.
    using RunnerFactory = std::function<std::unique_ptr<ActionRunner>()>;

    ComSocketServer(std::string address, RunnerFactory make_runner)
        : address_(std::move(address)), make_runner_(std::move(make_runner)) {}
    ComSocketServer(ComSocketServer&&) = default;
    ComSocketServer& operator=(ComSocketServer&&) = delete;
    // A loop whose object is gone finds its stop channel disconnected.
    ~ComSocketServer() {
        if (served_) served_->release_stop();
    }

    const std::string& address() const { return address_; }

    // Binds (or, with takeover, uses the listener it kept), waits through
    // `waiter` for one allowed client and keeps the connection, replacing an
    // earlier one.
    void open(Waiter& waiter) { accept(Deadline::never(), waiter); }
    // The same, giving up when the deadline passes or close() is called
    // first: then false, and the object is as it was.
    bool accept(const Deadline& deadline, Waiter& waiter);
    // Starts serving the held connection in the background.
    void serve();
    // Asks a running loop to stop, or shuts the held connection down, and
    // ends a wait in accept(). With no connection held, it also closes the
    // listener kept for takeover.
    void close();

    void on(std::uint8_t id, std::string_view widget, std::unique_ptr<Action> action);
    // The registered action, or null.
    const Action* get_action(std::string_view key) const;
    // Sends one result frame, waiting through `waiter` while another
    // thread's frame is going out or the client does not read. close()
    // from another thread ends the wait with ServerStateError.
    void callback(const ResultFrame& frame, Waiter& waiter);

    // Waits through `waiter` until the session of the last serve() is
    // over: that session, or null when the deadline passed first. Throws
    // ServerStateError before any serve().
    std::shared_ptr<const Session> wait(const Deadline& deadline, Waiter& waiter) const;
    // A connection is held and the loop serving it has not seen it end.
    bool connected() const;

    LoopSettings& loop_settings() { return loop_settings_; }
    std::optional<double>& send_timeout() { return send_timeout_; }
    // The peers that accept() lets in, and that may take over; null: all.
    std::shared_ptr<const AllowList>& allow() { return allow_; }
    // Whether the listener stays through a session, so that a returning
    // client ends it and waits for the next accept().
    bool& takeover() { return takeover_; }

    // The address of the web page and its WebSocket ("0.0.0.0:8080"), bound
    // by the next accept(); none: no web listener.
    std::optional<std::string>& web() { return web_; }
    // The address the web listener is bound to, once it is.
    std::optional<std::string> web_address() const;
    // Host names besides this machine's under which browsers may load the page.
    std::vector<std::string>& web_hosts() { return web_hosts_; }
    // The page's title; none until the program or the binding sets one.
    std::optional<std::string>& title() { return title_; }
    // The page shows the registered actions and the title: after a change
    // of either, a web listener answers with the new page.
    void publish_page();
    // For the garbage collector: actions often refer back to their server,
    // and so can the exception that ended a session.
    const ActionTable& actions() const { return actions_; }
    std::shared_ptr<const Session> last_session() const;
    void clear_references();

private:
    void adopt(Newcomer newcomer);
    void let_go_of_held();
    std::shared_ptr<Listener> listener_for_accept();
    void start_web();

    std::string address_;
    RunnerFactory make_runner_;
    // The connection of the last open() or accept(), until close().
    std::shared_ptr<ServedConnection> held_;
    // The connection of the last serve(): its loop is the one close()
    // stops, its session the one wait() waits for. Kept after close().
    std::shared_ptr<ServedConnection> served_;
    ActionTable actions_;
    LoopSettings loop_settings_;
    std::optional<double> send_timeout_;
    // Readable when close() ends a wait in accept().
    std::shared_ptr<Fd> accept_cancel_;
    std::shared_ptr<const AllowList> allow_;
    bool takeover_ = false;
    // Where newcomers wait for accept(), from the listener and the web page.
    std::shared_ptr<Admission> admission_ = std::make_shared<Admission>();
    std::optional<std::string> web_;
    std::vector<std::string> web_hosts_;
    std::optional<std::string> title_;
    // The web listener, and the address it was bound for.
    std::unique_ptr<WebServer> web_server_;
    std::string web_bound_for_;
    // With takeover: the listener, kept from accept() to accept(), and the
    // serve loop's, to which a returning client comes.
    KeptListener listener_;
};

}  // namespace vantu
