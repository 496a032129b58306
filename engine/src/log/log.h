// The engine's logging facade. The library installs no sink, so by default
// every line is dropped; an embedding program or a test may install one.
#pragma once

#include <string_view>

namespace velmo::log {

enum class Level { kError = 0, kWarning = 1, kInfo = 2, kDebug = 3 };

// Sink receives one line, without a trailing newline, on any thread.
using Sink = void (*)(Level level, std::string_view line);

// SetSink installs `sink` for lines up to `max_level`; null removes it.
void SetSink(Sink sink, Level max_level);

// Enabled tells whether a line at `level` would reach a sink.
bool Enabled(Level level);

// Write hands the line to the sink, if one is installed for that level.
void Write(Level level, std::string_view line);

}  // namespace velmo::log
