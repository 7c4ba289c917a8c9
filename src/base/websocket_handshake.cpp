// The accept value is the base64 of the SHA-1 of the key followed by a
// fixed GUID, which proves that the server read this handshake.
#include "base/websocket_handshake.hpp"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <span>

#include "base/base64.hpp"
#include "base/sha1.hpp"

namespace vantu::ws {
namespace {

constexpr std::string_view handshake_guid = "258EAFA5-E914-47DA-95CA-C5AB0DC85B11";
constexpr std::size_t key_size = 24;
constexpr std::size_t key_digits = 22;  // 16 bytes are 128 bits: 22 digits, 4 bits unused

}  // namespace

bool valid_key(std::string_view key) {
    if (key.size() != key_size || key.substr(key_digits) != "==") return false;
    const auto digits = key.substr(0, key_digits);
    if (!std::all_of(digits.begin(), digits.end(),
                     [](char c) { return base64_alphabet.find(c) != std::string_view::npos; })) {
        return false;
    }
    return (base64_alphabet.find(digits.back()) & 0x0F) == 0;
}

std::string accept_key(std::string_view key) {
    std::string text;
    text.reserve(key.size() + handshake_guid.size());
    text.append(key).append(handshake_guid);
    const auto* bytes = reinterpret_cast<const std::uint8_t*>(text.data());
    return base64_encode(sha1(std::span(bytes, text.size())));
}

}  // namespace vantu::ws
