// The action table's copies and its index by frame.
#include "server/models/action_table.hpp"

#include "base/identity_key.hpp"

#include <cstddef>

namespace vantu {

ActionTable clone_action_registry(const ActionTable& source) {
    ActionTable copy;
    copy.reserve(source.size());
    for (const auto& [key, action] : source) copy.emplace(key, action->clone());
    return copy;
}

FrameIndex::FrameIndex(const ActionTable& table) {
    for (std::size_t tag = 0; tag < widget_count; ++tag) {
        for (unsigned id = 0; id < 256; ++id) {
            const auto found = table.find(IdentityKey(tag, static_cast<std::uint8_t>(id)).view());
            if (found != table.end()) slots_[tag * 256u + id] = found->second.get();
        }
    }
}

}  // namespace vantu
