// The remote page a browser loads: the page file of the source tree, which
// the build embeds, with the program's title and its widgets filled in.
#pragma once

#include <string>
#include <string_view>

#include "server/models/action_table.hpp"

namespace vantu {

// The page file as it is in the source tree, placeholders and all.
extern const std::string_view web_page_template;

// The page for `title` and the actions of `actions` that frames can reach,
// by id and then kind, each with its action's label (or its kind and id).
std::string render_page(std::string_view title, const ActionTable& actions);

}  // namespace vantu
