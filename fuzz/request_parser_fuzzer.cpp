// Fuzzes the agent's request parser. For any line the parse either gives a request or fails
// with ProtocolError; a request must encode to one line that parses back to the same request,
// and its arguments go through the named command's option parser, which may refuse them only
// with InputError. Any other outcome aborts.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "agent/cli/Commands.h"
#include "agent/cli/InputError.h"
#include "agent/cli/Protocol.h"

namespace {

using TwiceNatCli::Request;

[[noreturn]] void fail(char const* what, std::string const& text) {
   std::fprintf(stderr, "request_parser_fuzzer: %s\n  line: %s\n", what, text.c_str());
   std::abort();
}

bool same(Request const& a, Request const& b) {
   return a.cmd == b.cmd && a.args == b.args && a.path == b.path && a.firstLine == b.firstLine &&
          a.lines == b.lines;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(uint8_t const* data, std::size_t size) {
   std::string const line(reinterpret_cast<char const*>(data), size);
   Request request;
   try {
      request = TwiceNatCli::parseRequest(line);
   } catch (TwiceNatCli::ProtocolError const&) {
      return 0;
   } catch (std::exception const& e) {
      fail((std::string("parse threw something else: ") + e.what()).c_str(), line);
   }
   std::string const encoded = TwiceNatCli::encode(request);
   if (encoded.empty() || encoded.back() != '\n' || encoded.find('\n') != encoded.size() - 1) {
      fail("a request encodes to more or less than one line", line);
   }
   try {
      if (!same(TwiceNatCli::parseRequest(encoded), request)) fail("round trip differs", line);
   } catch (std::exception const& e) {
      fail((std::string("an encoded request does not parse: ") + e.what()).c_str(), line);
   }
   if (TwiceNatCli::Command const* c = TwiceNatCli::commandNamed(request.cmd)) {
      try {
         TwiceNatCli::parseArgs(request.args, c->spec);
      } catch (TwiceNatCli::InputError const&) {
      } catch (std::exception const& e) {
         fail((std::string("option parsing threw something else: ") + e.what()).c_str(), line);
      }
   }
   return 0;
}
