// The engine's diagnostic log: a facade with no sink installed by the
// library, so nothing depends on what is written through it. A host or a
// test installs a sink to see the lines.
#pragma once

#include <string_view>

namespace velmo::log {

enum class Level { kError = 0, kWarning = 1, kInfo = 2, kDebug = 3 };

// Sink receives every line at or above the level it was installed for.
using Sink = void (*)(Level level, std::string_view line);

// SetSink installs `sink` for lines at `max_level` and more severe; nullptr
// removes it. Meant for start-up and tests, not for concurrent use with
// logging threads.
void SetSink(Sink sink, Level max_level);

// Enabled tells whether a line at `level` would reach a sink; callers use it
// to skip formatting lines nobody reads.
bool Enabled(Level level);

void Write(Level level, std::string_view line);

}  // namespace velmo::log
