// The TCP server object: one client at a time, an action table, and the
// stop channel of the serve loop it started last.
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include <Python.h>

#include "base/widget_registry.hpp"
#include "server/fd.hpp"
#include "server/models/widget_registry.hpp"
#include "server/server_com.hpp"
#include "server/stop_channel.hpp"

namespace vantu {

class ComSocketServer final : public ServerCom {
public:
    explicit ComSocketServer(std::string address) : address_(std::move(address)) {}

    const std::string& address() const { return address_; }

    // Binds, waits for one client (acting on signals meanwhile) and keeps
    // the connection, replacing an earlier one.
    void open();
    void serve() override;
    // Asks a running loop to stop, or shuts the held connection down.
    void close();

    void on(std::uint8_t id, std::string_view widget, PyObject* action);
    // The registered object (new reference) or None.
    PyObject* get_action(std::string_view key) const;
    void callback(std::uint8_t id, ServerStatus status, PyObject* data);

    // For the garbage collector: actions often refer back to their server.
    const ActionTable& actions() const { return actions_; }
    void clear_actions();

private:
    std::string address_;
    Fd stream_;
    ActionTable actions_;
    std::optional<StopSender> stop_sender_;
};

}  // namespace vantu
