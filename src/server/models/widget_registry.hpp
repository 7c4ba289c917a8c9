// The action table: identity key to the Python callable registered for it.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <unordered_map>

#include "binding/ref.hpp"

namespace vantu {

// One registration: a strong reference to a Python object, normally a
// callable (nothing checks that it is).
struct Action {
    py::Ref callable;
};

// Each table seeds its own hash, so the layout of one table says nothing
// about another's.
class SeededHash {
public:
    using is_transparent = void;
    SeededHash();
    std::size_t operator()(std::string_view key) const;

private:
    std::uint64_t seed_;
};

using ActionTable = std::unordered_map<std::string, Action, SeededHash, std::equal_to<>>;

// A copy with one more reference to each callable; needs the interpreter
// lock, which it takes re-entrantly.
ActionTable clone_action_registry(const ActionTable& source);

// Empties the table without the interpreter lock: the references are
// queued and released the next time a thread of the module holds it.
void release_without_gil(ActionTable& table);

}  // namespace vantu
