// The dispatch of one frame to its action.
#include "server/dispatch.hpp"

#include <charconv>
#include <string_view>

#include "base/texts.hpp"

namespace vantu {

std::optional<ActionFailure> execute_action(const FrameIndex& actions, const Frame& frame,
                                            ActionRunner& runner, const Progress& progress) {
    const Action* action = actions.find(frame.data.tag(), frame.id);
    if (!action) {
        progress.line({texts::no_key, frame.identity().view(), texts::key_not_found});
    } else {
        char digits[4];
        auto end = std::to_chars(digits, digits + sizeof digits, frame.id).ptr;
        progress.line({texts::found_frame, std::string_view(digits, end - digits)});
        progress.line({texts::running_action});
        auto failure = runner.run(*action, frame.data);
        // A line may block on a paused terminal or a full pipe: not with the
        // interpreter lock, which every Python thread needs.
        if (progress.on()) runner.pause();
        if (failure) return failure;
        progress.line({texts::after_function});
    }
    progress.line({texts::done});
    return std::nullopt;
}

}  // namespace vantu
