// One client connection as the server serves it: the socket with its send
// lock, the transport that carries frames on it, the session, the stop
// channel and settings of the last serve() on it, and who reads it. The
// server object, its loops and the callbacks sending on it share it; each
// keeps it alive for as long as it needs it.
#pragma once

#include <memory>
#include <mutex>
#include <optional>
#include <span>

#include "server/connection.hpp"
#include "server/loop_settings.hpp"
#include "server/reader_relay.hpp"
#include "server/session.hpp"
#include "server/stop_channel.hpp"
#include "server/transport.hpp"

namespace vantu {

class ServedConnection final : public ControlSink {
public:
    ServedConnection(Fd fd, std::shared_ptr<const Transport> transport);

    Connection& connection() { return connection_; }
    const Connection& connection() const { return connection_; }
    const Transport& transport() const { return *transport_; }
    ReaderRelay& relay() { return relay_; }

    // What a new loop gets from serve().
    struct Serving {
        StopReceiver receiver;
        std::shared_ptr<Session> session;
        ReaderRelay::Turn turn;
    };
    // Makes the stop channel and the settings those of this serve(), and
    // the session a new one, unless the loop takes over from one that
    // serves the session still.
    Serving serve(const LoopSettings& settings);

    // The session of the last serve() on this connection; null before one.
    std::shared_ptr<Session> session() const;
    const LoopSettings& settings() const { return settings_; }
    // Asks the loop of the last serve() to stop, running `on_queued` in the
    // same step; false when that loop has ended (or none was started).
    template <class OnQueued>
    bool stop_loop(OnQueued&& on_queued) {
        return stop_sender_ && stop_sender_->send(std::forward<OnQueued>(on_queued));
    }
    bool served() const { return stop_sender_.has_value(); }
    // The server object lets go of the loop: it sees its channel
    // disconnected from now on.
    void release_stop() { stop_sender_.reset(); }

    // Sends one result frame through `waiter`, sealed by the transport.
    Sent send_result(std::span<const std::uint8_t> frame, const Deadline& deadline,
                     Waiter& waiter);
    // A transport's own message, from the serve thread: it waits for the
    // lock and for room a few seconds at most.
    bool send_control(std::span<const std::uint8_t> bytes) override;

private:
    Connection connection_;
    std::shared_ptr<const Transport> transport_;
    ReaderRelay relay_;
    // serve() writes these on the thread of its caller, under the
    // interpreter lock like every method of the server object.
    std::optional<StopSender> stop_sender_;
    LoopSettings settings_;
    // Read by loops and callbacks on other threads as well.
    mutable std::mutex session_mutex_;
    std::shared_ptr<Session> session_;
};

}  // namespace vantu
