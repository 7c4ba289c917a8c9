#include "server/com_socket.hpp"

#include "base/log.hpp"
#include "binding/boundary.hpp"
#include "server/address.hpp"
#include "server/models/result_frame.hpp"
#include "server/serve_loop.hpp"
#include "server/socket.hpp"

namespace vantu {
namespace {

constexpr std::string_view log_target = "vantu_protocol::server::com_socket";

Fd bind_listener(const std::string& address) {
    constexpr std::string_view prefix = "Unable to intanstiate TCP Listener. ";
    try {
        return listen_on(resolve_address(address));
    } catch (const OsError& e) {
        throw Fatal(std::string(prefix) + os_error_detail(e.code()));
    } catch (const Error& e) {
        throw Fatal(std::string(prefix) + e.what());
    }
}

// open() keeps the interpreter lock while it waits, so it must run Python's
// signal handlers itself: Ctrl-C then ends the wait with KeyboardInterrupt.
void run_signal_handlers() {
    if (PyErr_CheckSignals() < 0) py::throw_error_already_set();
}

}  // namespace

void ComSocketServer::open() {
    Fd listener = bind_listener(address_);
    try {
        stream_ = accept_client(listener, run_signal_handlers);
    } catch (const OsError& e) {
        throw Fatal("Unable to get new TCP connection. " + os_error_detail(e.code()));
    }
}

void ComSocketServer::serve() {
    if (!stream_) throw ServerStateError::no_stream();
    Fd connection = duplicate(stream_.get());
    ActionTable table = clone_action_registry(actions_);
    StopChannel channel = make_stop_channel();
    stop_sender_ = std::move(channel.sender);
    start_serve_loop(std::move(channel.receiver), std::move(connection), std::move(table));
}

void ComSocketServer::close() {
    if (stop_sender_) {
        if (!stop_sender_->send(true)) throw Error("sending on a closed channel");
        // The loop shuts the connection down through its own duplicate.
        stream_.reset();
        return;
    }
    if (!stream_) return;
    shutdown_both(stream_.get());
    stream_.reset();
}

void ComSocketServer::on(std::uint8_t id, std::string_view widget, PyObject* action) {
    log::debug(log_target, "register action: ", widget);
    actions_.insert_or_assign(action_identity(id, widget), Action{py::Ref::borrow(action)});
}

PyObject* ComSocketServer::get_action(std::string_view key) const {
    auto found = actions_.find(key);
    PyObject* obj = found == actions_.end() ? Py_None : found->second.callable.get();
    return Py_NewRef(obj);
}

void ComSocketServer::clear_actions() {
    // Emptied before the references go: releasing one may run code that
    // looks at this table.
    ActionTable doomed;
    doomed.swap(actions_);
}

void ComSocketServer::callback(std::uint8_t id, ServerStatus status, PyObject* data) {
    ResultFrame frame = new_result_frame(id, status, data);
    if (!stream_) throw ServerStateError::no_stream();
    ByteSink bytes;
    frame.encode(bytes);
    send_all(stream_.get(), bytes.bytes());
}

}  // namespace vantu
