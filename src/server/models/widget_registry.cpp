#include "server/models/widget_registry.hpp"

#include <optional>

#include "binding/gil.hpp"
#include "binding/pending_release.hpp"

namespace vantu {

namespace {

// The id of a frame identity key's tail: decimal 0 to 255 as a frame
// writes it, without sign or leading zeros.
std::optional<std::uint8_t> frame_id(std::string_view digits) {
    if (digits.empty() || digits.size() > 3 || (digits.size() > 1 && digits[0] == '0')) {
        return std::nullopt;
    }
    unsigned value = 0;
    for (const char c : digits) {
        if (c < '0' || c > '9') return std::nullopt;
        value = value * 10 + static_cast<unsigned>(c - '0');
    }
    if (value > 255) return std::nullopt;
    return static_cast<std::uint8_t>(value);
}

}  // namespace

FrameIndex::FrameIndex(const ActionTable& table) {
    for (const auto& [key, action] : table) {
        for (std::size_t tag = 0; tag < widget_count; ++tag) {
            const std::string_view name = widget_names[tag];
            if (key.size() <= name.size() || !key.starts_with(name) || key[name.size()] != '_') {
                continue;
            }
            if (const auto id = frame_id(std::string_view(key).substr(name.size() + 1))) {
                slots_[tag * 256u + *id] = &action;
            }
        }
    }
}

ActionTable clone_action_registry(const ActionTable& source) {
    py::GilGuard gil;
    ActionTable copy;
    copy.reserve(source.size());
    for (const auto& [key, action] : source) copy.insert_or_assign(key, Action{action.callable});
    return copy;
}

void release_without_gil(ActionTable& table) {
    for (auto& entry : table) py::release_later(entry.second.callable.release());
    table.clear();
}

}  // namespace vantu
