// Fuzzes the agent's request parser. The input is a request line and, after its first newline,
// the text that followed it. The parse either gives a request or fails with ProtocolError; a
// request must encode to one line and its text that parse back to the same request, and its
// arguments go through the named command's option parser, which may refuse them only with
// InputError. Any other outcome aborts.
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
          a.text == b.text;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(uint8_t const* data, std::size_t size) {
   std::string const input(reinterpret_cast<char const*>(data), size);
   std::size_t const nl = input.find('\n');
   std::string const line = input.substr(0, nl);
   std::string const text = nl == std::string::npos ? "" : input.substr(nl + 1);
   Request request;
   try {
      request = TwiceNatCli::parseRequest(line, text);
   } catch (TwiceNatCli::ProtocolError const&) {
      return 0;
   } catch (std::exception const& e) {
      fail((std::string("parse threw something else: ") + e.what()).c_str(), input);
   }
   std::string const encoded = TwiceNatCli::encode(request);
   std::size_t const end = encoded.find('\n');
   if (end == std::string::npos || encoded.compare(end + 1, std::string::npos, request.text) != 0 ||
       TwiceNatCli::textBytes(std::string_view(encoded).substr(0, end)) != request.text.size()) {
      fail("a request encodes to other than one line and its text", input);
   }
   try {
      Request const back = TwiceNatCli::parseRequest(std::string_view(encoded).substr(0, end),
                                                     std::string_view(encoded).substr(end + 1));
      if (!same(back, request)) fail("round trip differs", input);
   } catch (std::exception const& e) {
      fail((std::string("an encoded request does not parse: ") + e.what()).c_str(), input);
   }
   if (TwiceNatCli::Command const* c = TwiceNatCli::commandNamed(request.cmd)) {
      try {
         TwiceNatCli::parseArgs(request.args, c->spec);
      } catch (TwiceNatCli::InputError const&) {
      } catch (std::exception const& e) {
         fail((std::string("option parsing threw something else: ") + e.what()).c_str(), input);
      }
   }
   return 0;
}
