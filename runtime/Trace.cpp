#include "Zin/Trace.h"

#include <algorithm>
#include <charconv>
#include <cstdio>
#include <cstdlib>
#include <deque>
#include <mutex>

namespace Zin {
namespace {

struct TraceState {
   std::mutex mutex;
   std::deque<TraceFacility> facilities;  // handles stay valid as facilities are added
   TraceSink sink;
};

TraceState& state() {
   static TraceState* s = new TraceState;
   return *s;
}

std::string_view trimmed(std::string_view s) {
   while (!s.empty() && (s.front() == ' ' || s.front() == '\t'))
      s.remove_prefix(1);
   while (!s.empty() && (s.back() == ' ' || s.back() == '\t'))
      s.remove_suffix(1);
   return s;
}

// Threshold of `name` in a ZIN_TRACE value such as "A=9,B=2"; -1 when not named. The last
// item that names the facility wins. An item with a level that is not a whole number is
// reported and ignored: silently reading it as 0 would switch tracing on.
int envThreshold(std::string_view name) {
   char const* env = std::getenv("ZIN_TRACE");
   if (!env) return -1;
   int threshold = -1;
   std::string_view spec(env);
   for (;;) {
      auto comma = spec.find(',');
      std::string_view item = spec.substr(0, comma);
      auto eq = item.find('=');
      if (trimmed(item.substr(0, eq)) == name) {
         std::string_view text = eq == std::string_view::npos ? "" : trimmed(item.substr(eq + 1));
         int level = 0;
         auto [end, err] = std::from_chars(text.data(), text.data() + text.size(), level);
         if (text.empty() || err != std::errc() || end != text.data() + text.size()) {
            std::fprintf(stderr, "ZIN_TRACE: ignoring '%.*s': the level must be a number\n",
                         static_cast<int>(item.size()), item.data());
         } else {
            threshold = std::clamp(level, -1, 9);
         }
      }
      if (comma == std::string_view::npos) break;
      spec.remove_prefix(comma + 1);
   }
   return threshold;
}

}  // namespace

TraceFacility& traceFacility(std::string_view name) {
   TraceState& s = state();
   std::lock_guard<std::mutex> lock(s.mutex);
   for (TraceFacility& f : s.facilities) {
      if (f.name() == name) return f;
   }
   return s.facilities.emplace_back(String(name), envThreshold(name));
}

void traceLevelIs(std::string_view facility, int threshold) {
   traceFacility(facility).thresholdIs(std::clamp(threshold, -1, 9));
}

void traceSinkIs(TraceSink sink) {
   TraceState& s = state();
   std::lock_guard<std::mutex> lock(s.mutex);
   s.sink = std::move(sink);
}

void traceWrite(TraceRecord const& r) {
   TraceSink sink;
   {
      TraceState& s = state();
      std::lock_guard<std::mutex> lock(s.mutex);
      sink = s.sink;
   }
   if (sink) {
      sink(r);
      return;
   }
   std::fprintf(stderr, "[%.*s:%u] %.*s:%u %.*s: %.*s\n", static_cast<int>(r.facility.size()),
                r.facility.data(), static_cast<unsigned>(r.level),
                static_cast<int>(r.source.size()), r.source.data(), static_cast<unsigned>(r.line),
                static_cast<int>(r.function.size()), r.function.data(),
                static_cast<int>(r.text.size()), r.text.data());
}

}  // namespace Zin
