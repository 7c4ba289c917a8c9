// What the web listener answers a request with: the page, a WebSocket
// upgrade that makes the connection a controller, or an error. No sockets
// here: the answer is the bytes to write and what to do after them.
#pragma once

#include <cstddef>
#include <span>
#include <string>
#include <string_view>

#include "base/http_request.hpp"

namespace vantu {

// What the answer depends on besides the request.
struct WebPolicy {
    std::string_view page;
    std::string_view machine;            // this machine's host name
    std::span<const std::string> hosts;  // names the program added
    bool occupied = false;               // a session is served
    bool takeover = false;               // and a newcomer may end it
};

struct WebAnswer {
    std::string response;
    // After the response: the connection is a controller.
    bool upgrade = false;
};

// `after_head` counts the bytes received after the request's head.
WebAnswer answer_request(const http::Request& request, std::size_t after_head,
                         const WebPolicy& policy);
// The answer to a head that could not be read (400, 431).
WebAnswer answer_refusal(int status);

}  // namespace vantu
