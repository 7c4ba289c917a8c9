// What the reader of a connection holds: the bytes received and not yet
// taken, the transport's reading state, and the frames taken ahead of their
// dispatch. It passes from loop to loop when a serve() takes over from a
// running one, so that no frame is lost, split or run twice.
#pragma once

#include <memory>
#include <string_view>

#include "server/frame_queue.hpp"
#include "server/receive_buffer.hpp"
#include "server/transport.hpp"

namespace vantu {

struct Inbound {
    explicit Inbound(const Transport& transport) : reader(transport.reader()) {}

    ReceiveBuffer buffer;
    std::unique_ptr<FrameReader> reader;
    // What the partial frame the buffer keeps fails with if the stream ends.
    std::string_view cut_text;
    FrameQueue ahead;
};

}  // namespace vantu
