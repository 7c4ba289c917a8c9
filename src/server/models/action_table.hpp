// The action table: for each widget and id, what the program registered
// to run when such a frame arrives.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <unordered_map>

#include "base/widget_kinds.hpp"
#include "server/handle.hpp"

namespace vantu {

// One registration. The server keeps it, copies it for a serve loop and
// hands it to the loop's ActionRunner; the binding layer gives it its
// meaning (a Python callable).
class Action : public Handle {
public:
    // A copy for a serve loop's own table. serve() makes it, on the thread
    // and with the locks of serve()'s caller.
    virtual std::unique_ptr<Action> clone() const = 0;
    // What the web page calls the widget; empty: the page's default. Asked
    // by the server object's methods only, on the thread and with the locks
    // of their caller, and only when the program serves the page.
    virtual std::string label() const { return {}; }
};

// Looks keys up by string_view, so that a lookup needs no string of its own.
struct KeyHash {
    using is_transparent = void;
    std::size_t operator()(std::string_view key) const { return std::hash<std::string_view>{}(key); }
};

using ActionTable =
    std::unordered_map<std::string, std::unique_ptr<Action>, KeyHash, std::equal_to<>>;

// A copy holding a clone of each action.
ActionTable clone_action_registry(const ActionTable& source);

// Each action that a frame can reach, filed under the frame's widget tag
// and id, so that dispatch finds a frame's action without building or
// hashing its key. Keys no frame produces ("ToggleButton_03", "Toggle_3")
// are left out. Points into the table it was made from.
class FrameIndex {
public:
    explicit FrameIndex(const ActionTable& table);
    const Action* find(std::size_t tag, std::uint8_t id) const { return slots_[tag * 256u + id]; }

private:
    std::array<const Action*, widget_count * 256> slots_{};
};

}  // namespace vantu
