#include "server/models/widget_registry.hpp"

#include <random>

#include "binding/gil.hpp"
#include "binding/pending_release.hpp"

namespace vantu {

SeededHash::SeededHash() {
    static thread_local std::mt19937_64 seeds{std::random_device{}()};
    seed_ = seeds();
}

std::size_t SeededHash::operator()(std::string_view key) const {
    // FNV-1a from the table's seed, then a final avalanche: keys are short
    // and few, and only the program itself inserts them.
    std::uint64_t h = seed_ ^ 0xcbf29ce484222325ull;
    for (unsigned char c : key) h = (h ^ c) * 0x100000001b3ull;
    h ^= h >> 33;
    h *= 0xff51afd7ed558ccdull;
    h ^= h >> 33;
    return static_cast<std::size_t>(h);
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
