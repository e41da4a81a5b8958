// Fuzzes the agent's request parser. The input is one request line. The parse either gives a
// request or fails with ProtocolError; a request must encode to one line that parses back to
// the same request, which encodes to the same line again. Any other outcome aborts.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

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
