// The action table: identity key to the Python callable registered for it.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <string_view>
#include <unordered_map>

#include "base/widget_registry.hpp"
#include "binding/ref.hpp"

namespace vantu {

// One registration: a strong reference to a Python object, normally a
// callable (nothing checks that it is).
struct Action {
    py::Ref callable;
};

// Looks keys up by string_view, so that a frame's stack-built identity key
// needs no string of its own.
struct KeyHash {
    using is_transparent = void;
    std::size_t operator()(std::string_view key) const { return std::hash<std::string_view>{}(key); }
};

using ActionTable = std::unordered_map<std::string, Action, KeyHash, std::equal_to<>>;

// Each action that a frame can reach, filed under the frame's widget tag
// and id, so that dispatch finds a frame's action without building or
// hashing its key. Keys no frame produces ("ToggleButton_03", "Toggle_3")
// are left out. Points into the table it was made from.
class FrameIndex {
public:
    explicit FrameIndex(const ActionTable& table);
    const Action* find(std::uint8_t tag, std::uint8_t id) const { return slots_[tag * 256u + id]; }

private:
    std::array<const Action*, widget_count * 256> slots_{};
};

// A copy with one more reference to each callable; needs the interpreter
// lock, which it takes re-entrantly.
ActionTable clone_action_registry(const ActionTable& source);

// Empties the table without the interpreter lock: the references are
// queued and released the next time a thread of the module holds it.
void release_without_gil(ActionTable& table);

}  // namespace vantu
