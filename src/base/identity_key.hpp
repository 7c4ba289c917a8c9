// Identity keys, which join frames to actions: "ToggleButton_3", built from
// a frame on the stack, or from a registration, and read back.
#pragma once

#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <tuple>
#include <utility>

#include "base/widget_kinds.hpp"

namespace vantu {

// "ToggleButton_3": a kind's name, "_" and the id in decimal. Built on the
// stack, so that a frame's key costs no allocation.
class IdentityKey {
public:
    IdentityKey(std::size_t tag, std::uint8_t id);
    std::string_view view() const { return {bytes_.data(), size_}; }

private:
    static constexpr std::size_t longest_name =
        std::apply([](const auto&... kind) { return std::max({kind.name.size()...}); }, widget_kinds);
    std::array<char, longest_name + 4> bytes_;
    std::uint8_t size_ = 0;
};

// The key under which an action is stored: the first white-space delimited
// word of `widget`, "_", and `id` in decimal.
std::string action_identity(std::uint8_t id, std::string_view widget);

// Reads "Name_12[_anything]" back into (12, "Name"). A malformed key is a
// broken precondition of the caller and throws vantu::Fatal.
std::pair<std::uint8_t, std::string> extract_identity(std::string key);

}  // namespace vantu
