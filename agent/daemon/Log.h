#pragma once
// The agent's log, for an agent that runs for long: one line per event, with its time and
// level. On a terminal or in a file a line reads
//    2026-12-08T04:55:01.123+00:00 info agent pid 4242 serves ...
// Under systemd, whose journal stamps each line itself, lines go to the journal through its
// native protocol, with the level as the line's priority (so 'journalctl -p warning' works).
// Lines are written at once, from any thread.
#include <cstdint>
#include <optional>
#include <string_view>

namespace TwiceNatAgent::Log {

enum class Level : std::uint8_t { debug, info, warning, error };

// "debug", "info", "warning" or "error"; nothing for another name.
std::optional<Level> levelNamed(std::string_view name);
// The least level written; info until set.
void levelIs(Level level);
bool enabled(Level level);

void write(Level level, std::string_view message);
inline void debug(std::string_view message) {
   write(Level::debug, message);
}
inline void info(std::string_view message) {
   write(Level::info, message);
}
inline void warning(std::string_view message) {
   write(Level::warning, message);
}
inline void error(std::string_view message) {
   write(Level::error, message);
}

}  // namespace TwiceNatAgent::Log
