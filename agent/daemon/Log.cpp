// Written through spdlog (Debian's libspdlog): its stderr sink for terminals and files, and its
// systemd sink, which speaks the journal's native protocol, when systemd connected stderr to
// the journal. The native protocol carries the level as the priority; a plain line on the
// journal's stream would carry it only as text, next to a second time stamp.
#include "agent/daemon/Log.h"

#include <spdlog/sinks/stdout_sinks.h>
#include <spdlog/sinks/systemd_sink.h>
#include <spdlog/spdlog.h>
#include <sys/stat.h>

#include <array>
#include <cstdio>
#include <cstdlib>
#include <memory>

namespace TwiceNatAgent::Log {

namespace {

constexpr std::array<std::string_view, 4> kNames = {"debug", "info", "warning", "error"};
constexpr std::array<spdlog::level::level_enum, 4> kLevels = {
    spdlog::level::debug, spdlog::level::info, spdlog::level::warn, spdlog::level::err};

// systemd names the stream it connected to the journal in JOURNAL_STREAM ("DEVICE:INODE"); a
// stderr that is another file (redirected by the service's own command) is not the journal.
bool stderrIsJournal() {
   char const* stream = std::getenv("JOURNAL_STREAM");
   unsigned long long device = 0, inode = 0;
   struct stat st {};
   return stream && std::sscanf(stream, "%llu:%llu", &device, &inode) == 2 &&
          ::fstat(2, &st) == 0 && st.st_dev == device && st.st_ino == inode;
}

std::shared_ptr<spdlog::logger> made() {
   spdlog::sink_ptr sink;
   if (stderrIsJournal()) {
      sink = std::make_shared<spdlog::sinks::systemd_sink_mt>("twicenat");
   } else {
      sink = std::make_shared<spdlog::sinks::stderr_sink_mt>();
      sink->set_pattern("%Y-%m-%dT%H:%M:%S.%e%z %l %v");
   }
   auto logger = std::make_shared<spdlog::logger>("twicenat", std::move(sink));
   logger->set_level(spdlog::level::info);
   // Whoever waits for a line (a ready line, a stop) sees it when it is written.
   logger->flush_on(spdlog::level::trace);
   return logger;
}

spdlog::logger& logger() {
   static std::shared_ptr<spdlog::logger> const theLogger = made();
   return *theLogger;
}

}  // namespace

std::optional<Level> levelNamed(std::string_view name) {
   for (std::size_t i = 0; i < kNames.size(); ++i) {
      if (kNames[i] == name) return Level(i);
   }
   return std::nullopt;
}

void levelIs(Level level) {
   logger().set_level(kLevels[std::size_t(level)]);
}

bool enabled(Level level) {
   return logger().should_log(kLevels[std::size_t(level)]);
}

void write(Level level, std::string_view message) {
   logger().log(kLevels[std::size_t(level)], "{}", message);
}

}  // namespace TwiceNatAgent::Log
