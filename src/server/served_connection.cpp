// Serving a connection: a serve()'s stop channel, session and turn to read,
// and the frames going out on it.
#include "server/served_connection.hpp"

#include <utility>

namespace vantu {
namespace {

// A client that leaves a control message unread this long does not read at
// all: the connection is then shut down.
constexpr double control_send_seconds = 5;

}  // namespace

ServedConnection::ServedConnection(Fd fd, std::shared_ptr<const Transport> transport)
    : connection_(std::move(fd)), transport_(std::move(transport)) {}

ServedConnection::Serving ServedConnection::serve(const LoopSettings& settings) {
    StopChannel channel = make_stop_channel();
    stop_sender_ = std::move(channel.sender);
    settings_ = settings;
    const ReaderRelay::Turn turn = relay_.claim(settings.live());
    std::lock_guard lock(session_mutex_);
    if (!turn.waits || !session_ || session_->over()) session_ = std::make_shared<Session>();
    return {std::move(channel.receiver), session_, turn};
}

std::shared_ptr<Session> ServedConnection::session() const {
    std::lock_guard lock(session_mutex_);
    return session_;
}

Sent ServedConnection::send_result(std::span<const std::uint8_t> frame, const Deadline& deadline,
                                   Waiter& waiter) {
    const Seal seal = transport_->seal(frame.size());
    return connection_.send_frame(seal.head(), frame, deadline, waiter);
}

bool ServedConnection::send_control(std::span<const std::uint8_t> bytes) {
    PlainWaiter waiter;
    try {
        return connection_.send_frame({}, bytes, Deadline::after(control_send_seconds), waiter) ==
               Sent::whole;
    } catch (const Error&) {
        return false;  // the socket failed: the read that follows tells the loop
    }
}

}  // namespace vantu
