// Fuzzes the reader of `load` lines. For any line the reader either gives an update (or
// nothing, for a blank line or a comment) or refuses it with an InputError; it never crashes
// and never leaks an object. An update prints as a line that reads back as the same update.
// Any other outcome aborts.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "LiveCounts.h"
#include "agent/cli/InputError.h"
#include "agent/cli/LoadLine.h"

namespace {

using TwiceNatAgent::Update;

[[noreturn]] void fail(char const* what, std::string_view line, std::string const& detail) {
   std::fprintf(stderr, "load_line_fuzzer: %s\n  line: %.*s\n  %s\n", what, int(line.size()),
                line.data(), detail.c_str());
   std::abort();
}

bool same(Update const& a, Update const& b) {
   return a.kind == b.kind && a.entry.match == b.entry.match &&
          a.entry.match.vrfGiven == b.entry.match.vrfGiven && a.entry.action == b.entry.action;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
   fuzz::liveCountsAtStart();
   return 0;
}

extern "C" int LLVMFuzzerTestOneInput(uint8_t const* data, std::size_t size) {
   std::string_view line(reinterpret_cast<char const*>(data), size);
   line = line.substr(0, line.find('\n'));  // `load` hands over one line at a time
   std::optional<Update> read;
   try {
      read = TwiceNatCli::parseLoadLine(line);
   } catch (TwiceNatCli::InputError const& e) {
      if (std::string_view(e.what()).empty()) fail("refused without a reason", line, "");
   }
   if (read) {
      std::string const printed = TwiceNatCli::loadLineOf(*read);
      try {
         std::optional<Update> const again = TwiceNatCli::parseLoadLine(printed);
         if (!again || !same(*read, *again))
            fail("printed line reads back otherwise", line, printed);
      } catch (TwiceNatCli::InputError const& e) {
         fail("printed line is refused", line, printed + ": " + e.what());
      }
   }
   if (std::string const moved = fuzz::liveCountsAtStart().moved(); !moved.empty()) {
      fail("objects left behind", line, moved);
   }
   return 0;
}
