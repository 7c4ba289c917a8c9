// The outgoing result frame, its payloads, and its MessagePack encoding.
#pragma once

#include <array>
#include <cstdint>
#include <string_view>
#include <variant>

#include "base/byte_sink.hpp"
#include "base/server_status.hpp"

namespace vantu {

namespace result {
struct ConfirmResult { bool status = false; };
// A view: a frame is encoded while the caller keeps the text alive.
struct ErrorResult { std::string_view error; };
}  // namespace result

using ResultRegistry = std::variant<result::ConfirmResult, result::ErrorResult>;
inline constexpr std::array<std::string_view, 2> result_names = {
    "ConfirmResult", "ErrorResult",
};

struct ResultFrame {
    std::uint8_t id = 0;
    ServerStatus status = ServerStatus::NotInit;
    ResultRegistry data;

    // Appends the MessagePack bytes: [id, status name, {variant name: [field]}].
    void encode(ByteSink& out) const;
};

}  // namespace vantu
