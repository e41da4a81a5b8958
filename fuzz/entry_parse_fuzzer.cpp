// Fuzzes the table entry's text parser. For any input the parse either builds an entry or
// fails with one of the runtime's errors; it never crashes and never leaks an object. Whatever
// parses must print, parse again and print the same text. Any other outcome aborts.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "BfTwiceNatAddrOnly/entry/TwiceNatAddrOnlyTableEntryText.h"
#include "LiveCounts.h"

namespace {

using BfTwiceNatAddrOnly::TwiceNatAddrOnlyTableEntry;

[[noreturn]] void fail(char const* what, std::string const& text, std::string const& detail) {
   std::fprintf(stderr, "entry_parse_fuzzer: %s\n  text: %s\n  %s\n", what, text.c_str(),
                detail.c_str());
   std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
   fuzz::liveCountsAtStart();
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
   if (std::string const moved = fuzz::liveCountsAtStart().moved(); !moved.empty()) {
      fail("objects left behind", text, moved);
   }
   return 0;
}
