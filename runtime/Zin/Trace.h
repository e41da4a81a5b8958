#pragma once
// Tracing: one facility per module, levels 0 to 9. A facility's threshold says up to which
// level its records are written; -1 writes none. Thresholds come from the environment
// variable ZIN_TRACE at start ("Facility=9,Other=3") and from traceLevelIs.
#include <atomic>
#include <functional>
#include <sstream>
#include <string_view>

#include "Pemra/String.h"
#include "Zin/Types.h"

namespace Zin {

struct TraceRecord {
   U8 level;
   std::string_view facility;
   std::string_view source;
   U32 line;
   std::string_view function;
   std::string_view text;
};

class TraceFacility {
 public:
   explicit TraceFacility(String name, int threshold)
       : name_(std::move(name)), threshold_(threshold) {}
   String const& name() const { return name_; }
   bool enabled(U8 level) const { return level <= threshold_.load(std::memory_order_relaxed); }
   int threshold() const { return threshold_.load(std::memory_order_relaxed); }
   void thresholdIs(int t) { threshold_.store(t, std::memory_order_relaxed); }

 private:
   String name_;
   std::atomic<int> threshold_;
};

// The facility's handle, made on first use with the threshold that ZIN_TRACE gives it.
TraceFacility& traceFacility(std::string_view name);
void traceLevelIs(std::string_view facility, int threshold);

using TraceSink = std::function<void(TraceRecord const&)>;
// Where records go; an empty sink restores the default, a line on stderr.
void traceSinkIs(TraceSink sink);
void traceWrite(TraceRecord const& record);

}  // namespace Zin

// Writes one record when `level` is enabled; the stream expression is only evaluated then.
// The formatting sits in a cold function of its own, so that a disabled record costs the
// caller one compare and none of the stream's stack or registers.
#define ZIN_TRACE(facility, level, source, function, expr)                                    \
   do {                                                                                       \
      ::Zin::TraceFacility& zinTraceFacility_ = (facility);                                   \
      if (zinTraceFacility_.enabled(level)) [[unlikely]] {                                    \
         [&]() __attribute__((noinline, cold)) {                                              \
            std::ostringstream zinTraceText_;                                                 \
            zinTraceText_ << expr;                                                            \
            ::Zin::traceWrite({static_cast<U8>(level), zinTraceFacility_.name(), (source),    \
                               static_cast<U32>(__LINE__), (function), zinTraceText_.str()}); \
         }                                                                                    \
         ();                                                                                  \
      }                                                                                       \
   } while (0)
