// The server's side of the WebSocket opening handshake: checking the
// client's Sec-WebSocket-Key and answering it with Sec-WebSocket-Accept.
#pragma once

#include <string>
#include <string_view>

namespace vantu::ws {

// Whether `key` is the base64 of 16 bytes: 24 characters of the base64
// alphabet ending in "==", with the bits that the padding leaves unused
// set to zero, as every encoder writes them.
bool valid_key(std::string_view key);

// The Sec-WebSocket-Accept value for `key`: 28 characters.
std::string accept_key(std::string_view key);

}  // namespace vantu::ws
