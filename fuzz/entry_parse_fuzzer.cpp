// Fuzzes the table entry's text parser. For any input the parse either builds an entry or
// fails with one of the runtime's errors; it never crashes and never leaks an object. Whatever
// parses must print, parse again and print the same text. Any other outcome aborts.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <string>

#include "BfTwiceNatAddrOnly/entry/TwiceNatAddrOnlyTableEntryText.h"
#include "Zin/Alloc.h"

namespace {

using BfTwiceNatAddrOnly::TwiceNatAddrOnlyTableEntry;

[[noreturn]] void fail(char const* what, std::string const& text, std::string const& detail) {
   std::fprintf(stderr, "entry_parse_fuzzer: %s\n  text: %s\n  %s\n", what, text.c_str(),
                detail.c_str());
   std::abort();
}

// Live objects per class when the fuzzer started; every input must leave them as they were.
std::map<std::string, I64>& baseline() {
   static std::map<std::string, I64> counts;
   return counts;
}

void liveCountsCheck(std::string const& text) {
   for (auto const& c : Zin::allocCounts()) {
      auto it = baseline().find(std::string(c.className));
      I64 const was = it == baseline().end() ? 0 : it->second;
      if (c.liveObjects != was) {
         fail("objects left behind", text,
              std::string(c.className) + ": " + std::to_string(c.liveObjects) + " live, " +
                  std::to_string(was) + " before");
      }
   }
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
   for (auto const& c : Zin::allocCounts())
      baseline()[std::string(c.className)] = c.liveObjects;
   return 0;
}

extern "C" int LLVMFuzzerTestOneInput(uint8_t const* data, std::size_t size) {
   std::string const text(reinterpret_cast<char const*>(data), size);
   std::string printed;
   try {
      printed = valueToStrep(Zin::strepToValue<TwiceNatAddrOnlyTableEntry>(text));
   } catch (Zin::Exception const&) {
      // Refused with a runtime error: fine, as long as nothing was left behind.
   }
   if (!printed.empty()) {
      try {
         std::string const again =
             valueToStrep(Zin::strepToValue<TwiceNatAddrOnlyTableEntry>(printed));
         if (again != printed) fail("printed text changed on a second round", printed, again);
      } catch (Zin::Exception const& e) {
         fail("printed text does not parse", printed, e.what());
      }
   }
   liveCountsCheck(text);
   return 0;
}
