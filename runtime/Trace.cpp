#include "Zin/Trace.h"

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

// Threshold of `name` in a ZIN_TRACE value such as "A=9,B=2"; -1 when not named.
int envThreshold(std::string_view name) {
   char const* env = std::getenv("ZIN_TRACE");
   if (!env) return -1;
   std::string_view spec(env);
   while (!spec.empty()) {
      auto comma = spec.find(',');
      std::string_view item = spec.substr(0, comma);
      auto eq = item.find('=');
      if (eq != std::string_view::npos && item.substr(0, eq) == name) {
         int level = std::atoi(String(item.substr(eq + 1)).c_str());
         return level < 0 ? -1 : (level > 9 ? 9 : level);
      }
      if (comma == std::string_view::npos) break;
      spec.remove_prefix(comma + 1);
   }
   return -1;
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
   traceFacility(facility).thresholdIs(threshold < -1 ? -1 : (threshold > 9 ? 9 : threshold));
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
