#pragma once
// The runtime's live objects per class when a fuzzer starts, so that each input can be checked
// to leave them as they were.
#include <map>
#include <string>

#include "Zin/Alloc.h"

namespace fuzz {

class LiveCounts {
 public:
   LiveCounts() {
      for (auto const& c : Zin::allocCounts())
         start_[std::string(c.className)] = c.liveObjects;
   }
   // The first class whose count moved, with its counts; empty when none did.
   std::string moved() const {
      for (auto const& c : Zin::allocCounts()) {
         auto it = start_.find(std::string(c.className));
         I64 const was = it == start_.end() ? 0 : it->second;
         if (c.liveObjects != was) {
            return std::string(c.className) + ": " + std::to_string(c.liveObjects) + " live, " +
                   std::to_string(was) + " before";
         }
      }
      return {};
   }

 private:
   std::map<std::string, I64> start_;
};

// Taken at the first call, which a fuzzer makes from LLVMFuzzerInitialize.
inline LiveCounts const& liveCountsAtStart() {
   static LiveCounts const counts;
   return counts;
}

}  // namespace fuzz
