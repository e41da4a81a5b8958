// Fuzzes the client's reply readers. The input is one line from an agent: read as a show's page
// and as the reply to each op, it either gives a value or fails with ProtocolError. A page the
// canonical reader takes must be the general reader's page too, and a page read either way
// encodes to a line that reads back to the same page. Any other outcome aborts.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "agent/service/CanonicalLines.h"
#include "agent/service/ReplyCodec.h"

namespace {

using namespace TwiceNatService;

[[noreturn]] void fail(char const* what, std::string const& input, std::string const& more = "") {
   std::fprintf(stderr, "reply_parser_fuzzer: %s\n  input: %s\n  %s\n", what, input.c_str(),
                more.c_str());
   std::abort();
}

std::string encoded(Page const& p) {
   std::string out;
   encodePage(p, out);
   return out;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(uint8_t const* data, std::size_t size) {
   std::string const input(reinterpret_cast<char const*>(data), size);
   for (Op op : {Op::status, Op::get, Op::program, Op::apply, Op::clear}) {
      try {
         parseReply(op, input);
      } catch (ProtocolError const&) {
      } catch (std::exception const& e) {
         fail("a reply's parse threw something else", input, e.what());
      }
   }
   Page page;
   try {
      parsePage(input, page);
   } catch (ProtocolError const& e) {
      if (std::string(e.what()).empty()) fail("a refusal that does not say why", input);
      return 0;
   } catch (std::exception const& e) {
      fail("a page's parse threw something else", input, e.what());
   }
   if (!page.status.ok()) return 0;
   std::string const line = encoded(page);
   Page quick;
   if (readCanonicalPage(input, quick)) {
      Page full;
      try {
         parsePageInFull(input, full);
      } catch (std::exception const& e) {
         fail("the canonical reader took what the general one refuses", input, e.what());
      }
      if (encoded(quick) != encoded(full)) fail("the two readers differ", input, encoded(full));
   }
   Page again;
   try {
      parsePage(line, again);
   } catch (std::exception const& e) {
      fail("an encoded page does not parse", input, line + "  " + e.what());
   }
   if (encoded(again) != line) fail("round trip differs", input, line + "  " + encoded(again));
   return 0;
}
