// Fuzzes the agent's request handling: each line of the input is a request answered over one
// agent (a chip of 256 entries in a scratch folder), as a client of the socket would get it.
// Every answer must be whole reply lines of this protocol that the client side reads back, a
// refusal must say why, and a show must end with its last page; between inputs the table is
// cleared, and a read of it must then find it empty. Any other outcome aborts.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>

#include "agent/KeyTable.h"
#include "agent/cli/Commands.h"
#include "agent/service/ReplyCodec.h"
#include "agent/service/RequestCodec.h"
#include "agent/service/SocketService.h"

namespace {

using namespace TwiceNatService;

[[noreturn]] void fail(char const* what, std::string const& input, std::string const& more) {
   std::fprintf(stderr, "request_handler_fuzzer: %s\n  input: %s\n  %s\n", what, input.c_str(),
                more.c_str());
   std::abort();
}

struct Agent {
   Agent() {
      std::string dir = (std::filesystem::temp_directory_path() / "handler-fuzz-XXXXXX").string();
      if (!::mkdtemp(dir.data())) std::abort();
      state.dir = dir;
      chip::Profile p;
      p.capacity = 256;
      chip::Chip::create(state.chipPath(), p);
      TwiceNatAgent::KeyTable::create(state.keyTablePath(), p.capacity + chip::kMaxPipes + 1);
      start = std::make_unique<TwiceNatCli::AgentStart>(state, false);
      handler = std::make_unique<Handler>(*start->core, Handler::Facts{state.dir, {}, "0.1.0"});
      service = std::make_unique<SocketService>(*handler);
   }
   // At exit: the agent goes before its folder.
   ~Agent() {
      service.reset();
      handler.reset();
      start.reset();
      std::error_code ec;
      std::filesystem::remove_all(state.dir, ec);
   }
   static Agent& agent() {
      static Agent a;
      return a;
   }
   TwiceNatCli::StateDir state;
   std::unique_ptr<TwiceNatCli::AgentStart> start;
   std::unique_ptr<Handler> handler;
   std::unique_ptr<SocketService> service;
};

// Reads back every line of `answer` as the client of a request of `op` would.
void readBack(Op op, std::string const& answer, std::string const& input) {
   std::size_t at = 0;
   bool last = false;
   while (at < answer.size()) {
      std::size_t const nl = answer.find('\n', at);
      if (nl == std::string::npos) fail("an answer that does not end its line", input, answer);
      std::string_view const line = std::string_view(answer).substr(at, nl - at);
      at = nl + 1;
      try {
         if (op == Op::show) {
            Page page;
            parsePage(line, page);
            if (!page.status.ok() && page.status.message.empty())
               fail("a refusal without why", input, answer);
            last = page.last;
         } else {
            Reply const r = parseReply(op, line);
            if (!r.status.ok() && r.status.message.empty())
               fail("a refusal without why", input, answer);
            last = true;
         }
      } catch (ProtocolError const& e) {
         fail("an answer the client cannot read", input, std::string(line) + "  " + e.what());
      }
      if (last && at != answer.size()) fail("lines after the last", input, answer);
   }
   if (!last) fail("an answer that does not end", input, answer);
}

// The whole answer to one request line from `client`: its reply, or every page of a show.
std::string answer(LineService::Client& client, std::string_view line) {
   std::string out;
   for (bool more = client.request(line, out); more;)
      more = client.more(out);
   return out;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(uint8_t const* data, std::size_t size) {
   Agent& a = Agent::agent();
   // One connection for the input's lines, so that a batch may span them.
   std::unique_ptr<LineService::Client> client = a.service->connected();
   std::string const input(reinterpret_cast<char const*>(data), size);
   std::size_t at = 0;
   for (int n = 0; n < 64 && at <= input.size(); ++n) {
      std::size_t nl = input.find('\n', at);
      if (nl == std::string::npos) nl = input.size();
      std::string const line = input.substr(at, nl - at);
      at = nl + 1;
      Op op = Op::status;  // a refusal reads as any reply
      try {
         op = parseRequest(line).op;
      } catch (ProtocolError const&) {
      }
      readBack(op, answer(*client, line), input);
   }
   client = a.service->connected();  // a batch left open is rolled back
   readBack(Op::clear, answer(*client, R"({"v":2,"op":"clear"})"), input);
   std::string const shown = answer(*client, R"({"v":2,"op":"show"})");
   if (shown.find("\"matching\":0,\"total\":0") == std::string::npos) {
      fail("a cleared table that holds entries", input, shown);
   }
   return 0;
}
