// A module-wide logging facade: a level filter and a sink. Both start off
// and empty and nothing in the module changes them, so records cost one
// relaxed load; an embedding program can route them without a rebuild of
// the call sites.
#pragma once

#include <atomic>
#include <string_view>

namespace vantu::log {

enum class Level { off, error, warn, info, debug, trace };

struct Record {
    Level level;
    std::string_view target;
    std::string_view text;
    std::string_view detail;  // appended to text
};

using Sink = void (*)(const Record&);

inline std::atomic<Level> max_level{Level::off};
inline std::atomic<Sink> sink{nullptr};

inline void debug(std::string_view target, std::string_view text, std::string_view detail = {}) {
    if (max_level.load(std::memory_order_relaxed) < Level::debug) return;
    if (Sink s = sink.load(std::memory_order_acquire)) s(Record{Level::debug, target, text, detail});
}

}  // namespace vantu::log
