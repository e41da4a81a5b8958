// Fuzzes the agent's request parser. The input is one request line. The parse either gives a
// request or fails with ProtocolError; a request must encode to one line that parses back to
// the same request, which encodes to the same line again. A batch the canonical reader takes
// must be the general reader's request too. Any other outcome aborts.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "agent/service/CanonicalLines.h"
#include "agent/service/RequestCodec.h"

namespace {

using namespace TwiceNatService;

[[noreturn]] void fail(char const* what, std::string const& input, std::string const& more = "") {
   std::fprintf(stderr, "request_parser_fuzzer: %s\n  input: %s\n  %s\n", what, input.c_str(),
                more.c_str());
   std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(uint8_t const* data, std::size_t size) {
   std::string const input(reinterpret_cast<char const*>(data), size);
   Request request;
   try {
      request = parseRequest(input);
   } catch (ProtocolError const& e) {
      if (std::string(e.what()).empty()) fail("a refusal that does not say why", input);
      return 0;
   } catch (std::exception const& e) {
      fail("parse threw something else", input, e.what());
   }
   std::string const line = encodeRequest(request);
   if (Request quick; readCanonicalBatch(input, quick)) {
      std::string full;
      try {
         full = encodeRequest(parseRequestInFull(input));
      } catch (std::exception const& e) {
         fail("the canonical reader took what the general one refuses", input, e.what());
      }
      if (encodeRequest(quick) != full) fail("the two readers differ", input, full);
   }
   if (line.empty() || line.back() != '\n' || line.find('\n') != line.size() - 1) {
      fail("a request encodes to other than one line", input, line);
   }
   try {
      std::string const again = encodeRequest(parseRequest(line));
      if (again != line) fail("round trip differs", input, line + "  " + again);
   } catch (std::exception const& e) {
      fail("an encoded request does not parse", input, line + "  " + e.what());
   }
   return 0;
}
