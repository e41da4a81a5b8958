// twicenat serve and its clients: the same output as a run of its own, refusals, and the
// folder's lock. Clients at the same time and kills of an agent are the kill tool's.
#include <sys/socket.h>
#include <sys/time.h>
#include <sys/un.h>

#include <array>
#include <thread>

#include "agent/cli/Help.h"
#include "agent/cli/StateLock.h"
#include "agent/service/Client.h"
#include "agent/service/ReplyCodec.h"
#include "agent/service/RequestCodec.h"
#include "cli/CliRunner.h"

namespace TwiceNatCliTest {
namespace {

using TwiceNatCli::StateLock;
using TwiceNatService::Client;
using namespace std::chrono_literals;

std::string const kEntryCommands[] = {
    "set --dst 10.0.0.1 --src 10.0.0.2 --vrf 1 --action hit --key-id 3 --next-hop 4",
    "set --dst 10.0.0.3 --src 10.0.0.2 --action ecmp --ecmp-group 9",
    "set --dst 10.0.0.1 --src 10.0.0.2 --vrf 1 --action onMiss",
    "default set --action hit --next-hop 2",
    "del --dst 10.0.0.3 --src 10.0.0.2",
    "del --dst 10.0.0.3 --src 10.0.0.2",
    "show",
    "show --json",
    "show --text --dst 10.0.0.1",
    "chip show",
    "default reset",
    "default reset",
    "show --vrf 70000",
    "load",  // a file of 50 entries and a bad line
    "diff",
    "load --dry-run",
    "clear",
    "show --text",
    "clear --yes",
    "load --atomic",  // the file's bad line rolls the load back
    "load",
    "show --json",
};

// Sends `text` on a connection of its own and hangs up without reading.
void sendAndHangUp(std::string const& socketPath, std::string const& text) {
   int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
   sockaddr_un a{};
   a.sun_family = AF_UNIX;
   std::snprintf(a.sun_path, sizeof a.sun_path, "%s", socketPath.c_str());
   ASSERT_EQ(::connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a), 0);
   ASSERT_EQ(::send(fd, text.data(), text.size(), MSG_NOSIGNAL), ssize_t(text.size()));
   ::close(fd);
}

// Every command prints the same, and leaves the same state, through an agent as on its own.
TEST(CliServeTest, ClientsPrintWhatOneShotRunsPrint) {
   CliState alone, served;
   alone.ok("chip create --capacity 64");
   served.ok("chip create --capacity 64");
   Agent agent(served);
   // The agent logs on stderr, each line with its time and level.
   std::string const info =
       "[0-9]{4}-[0-9]{2}-[0-9]{2}T[0-9]{2}:[0-9]{2}:[0-9]{2}\\.[0-9]{3}"
       "[+-][0-9]{2}:[0-9]{2} info ";
   EXPECT_THAT(agent.err(), ContainsRegex("^" + info +
                                          "start reconciled: 0 chip entries without a key record "
                                          "adopted, 0 key records without a chip entry dropped, "
                                          "0 resyncs run again after key-table damage\n" +
                                          info +
                                          "agent pid [0-9]+ serves .* on .*/agent.sock: 0 "
                                          "entries resynced in [0-9.]+ s\n$"));
   EXPECT_EQ(agent.out(), "");
   std::string file = "\xEF\xBB\xBF";  // a byte-order mark is no part of the first line
   for (int i = 0; i < 50; ++i)
      file += "10.1.0." + std::to_string(i) + " 192.168.0.1 - " +
              std::array{"onMiss", "hit 1 2 6 0 7", "ecmp 3 4 17 1 9"}[i % 3] + "\n";
   file += "junk\n";
   for (std::string const& line : kEntryCommands) {
      SCOPED_TRACE(line);
      auto more = [&](CliState const& st) {
         bool const fileTaker = line.rfind("load", 0) == 0 || line.rfind("diff", 0) == 0;
         return fileTaker ? Args{st.file("f", file)} : Args{};
      };
      CliResult const a = alone.run(line, more(alone)), s = served.run(line, more(served));
      EXPECT_EQ(s.status, a.status);
      // Paths differ by folder, and a long-lived agent programmed what a run of its own found
      // by its resync; everything else is the same text.
      auto same = [](std::string const& out, CliState const& st) {
         return std::regex_replace(std::regex_replace(out, std::regex(st.root()), "DIR"),
                                   std::regex("programmed|resynced|[0-9.]+ s,? |[0-9]+ entries/s"),
                                   "X");
      };
      EXPECT_EQ(same(s.out, served), same(a.out, alone));
      EXPECT_EQ(same(s.err, served), same(a.err, alone));
   }
   EXPECT_THAT(
       served.ok("status"),
       ContainsRegex("agent pid " + std::to_string(agent.pid()) + " serves " + served.dir() +
                     ": 50 entries, up [0-9.]+ s, [0-9]+ requests served, "
                     "twicenat " +
                     std::string(TwiceNatCli::version()) + "\n"));
   nlohmann::json const status = nlohmann::json::parse(served.ok("status --json"));
   EXPECT_EQ(status["pid"], agent.pid());
   EXPECT_EQ(status["entries"], 50);
   EXPECT_EQ(status["version"], TwiceNatCli::version());
   EXPECT_THAT(served.ok("stop"), HasSubstr("stopped"));
   EXPECT_EQ(agent.wait(), 0);
   EXPECT_THAT(agent.err(),
               ContainsRegex(info + "agent pid [0-9]+ stopped after [0-9]+ requests\n$"));
   // Gone for good: no socket, and the next command runs on its own.
   CliResult const none = served.run("status");
   EXPECT_EQ(none.status, 1);
   EXPECT_EQ(none.out, "no agent serves " + served.dir() + "\n");
   EXPECT_FALSE(std::filesystem::exists(served.dir() + "/agent.sock"));
   EXPECT_EQ(served.text(), alone.text());
   EXPECT_EQ(served.keyRecords(), alone.keyRecords());
}

// Bad requests get a refusal that says why; the agent answers the next request as if nothing
// happened. (Every kind of malformed request is the protocol tests'.)
TEST(CliServeTest, MalformedRequestsKeepTheAgentServing) {
   CliState st;
   st.ok("chip create --capacity 16");
   Agent agent(st);
   std::unique_ptr<Client> c = Client::connect(st.dir() + "/agent.sock", 5s);
   ASSERT_TRUE(c);
   for (auto const& [line, why] : std::vector<std::pair<std::string, std::string>>{
            {"hello", "bad request: not JSON"},
            {R"({"v":1,"cmd":"show"})", "protocol version 1; this agent speaks version 2"},
            {R"({"v":2,"op":"status","op":"stop"})", "\"op\" given twice"},
            {R"({"v":2,"op":"serve"})", "unknown op \"serve\""},
        }) {
      SCOPED_TRACE(line);
      auto const r =
          TwiceNatService::parseReply(TwiceNatService::Op::status, c->exchange(line + "\n"));
      EXPECT_EQ(r.status.code, TwiceNatAgent::Code::invalidArgument);
      EXPECT_THAT(r.status.message, HasSubstr(why));
   }
   // A line past the cap is refused and its connection closed; without the cap the agent would
   // wait for the line's end and this receive time out.
   std::string const huge(TwiceNatService::kMaxRequestBytes + 10, 'x');
   EXPECT_THAT(c->exchange(huge), HasSubstr("bad request: request longer than 1048576 bytes"));
   EXPECT_THROW(c->receiveLine(), TwiceNatService::ConnectionLost);
   // Clients that go away in the middle of a request line, or before reading the reply of
   // a whole one: the first changes nothing, the second's set is done.
   sendAndHangUp(st.dir() + "/agent.sock", R"({"v":2,"op":"program","entry":{"dst":"9.9.9.9")");
   TwiceNatService::Request q{TwiceNatService::Op::program};
   q.entry = {{0x09090908, 0x01010101, 0, false}, {}};
   sendAndHangUp(st.dir() + "/agent.sock", TwiceNatService::encodeRequest(q));
   st.ok("set --dst 1.1.1.1 --src 2.2.2.2 --vrf 0 --action onMiss");
   EXPECT_THAT(st.ok("show"),
               AllOf(HasSubstr("2 entries of 2"), HasSubstr("9.9.9.8"), Not(HasSubstr("9.9.9.9"))));
   EXPECT_THAT(agent.err(), HasSubstr("refused: a request longer than 1048576 bytes"));
}

// A folder whose socket path is too long for a socket: serve says why it cannot serve it.
TEST(CliServeTest, FolderTooDeepForASocket) {
   CliState st;
   std::string const deep = st.root() + "/" + std::string(120, 'd');
   EXPECT_EQ(st.run("--state " + deep + " chip create --capacity 8").status, 0);
   CliResult const serve = st.run("--state " + deep + " serve");
   EXPECT_EQ(serve.status, 2);
   EXPECT_THAT(serve.err, HasSubstr("is longer than 107 bytes: name a shorter state folder"));
}

// With no agent, a command holds the folder's lock for its run: a second waits, saying so,
// or fails at once with --no-wait.
TEST(CliServeTest, OneShotCommandsWaitForTheLock) {
   CliState st;
   st.ok("chip create --capacity 16");
   StateLock held;
   ASSERT_EQ(held.tryTake(st.dir(), StateLock::Mode::write), StateLock::Outcome::taken);
   for (std::string const line :
        {"show", "set --dst 1.1.1.1 --src 2.2.2.2 --action onMiss", "serve", "chip destroy"}) {
      SCOPED_TRACE(line);
      CliResult const r = st.run("--no-wait " + line);
      EXPECT_EQ(r.status, 1);
      EXPECT_EQ(r.err, "twicenat: another twicenat holds the state folder " + st.dir() +
                           " (--no-wait: not waiting)\n");
   }
   TwiceNatTest::ChildProcess waiting(st.argv("set --dst 1.1.1.1 --src 2.2.2.2 --action onMiss"),
                                      st.root() + "/set");
   ASSERT_TRUE(waiting.awaitText("twicenat: waiting for another twicenat to finish with " +
                                 st.dir() + "\n"));
   EXPECT_EQ(waiting.out(), "");
   held.release();
   EXPECT_EQ(waiting.wait(), 0);
   EXPECT_THAT(waiting.out(), HasSubstr("added dst 1.1.1.1 src 2.2.2.2"));
   EXPECT_THAT(st.ok("show"), HasSubstr("1 entry of 1"));
}

// An agent killed a moment ago still holds the lock and takes connections that it never
// answers, until the kernel has closed its files: a new serve waits that out instead of failing.
TEST(CliServeTest, ServeRightAfterAKilledAgentWaitsForItsEnd) {
   CliState st;
   st.ok("chip create --capacity 16");
   StateLock dying;
   ASSERT_EQ(dying.tryTake(st.dir(), StateLock::Mode::write), StateLock::Outcome::taken);
   int const listener = ::socket(AF_UNIX, SOCK_STREAM, 0);
   sockaddr_un a{};
   a.sun_family = AF_UNIX;
   std::string const path = st.dir() + "/agent.sock";
   path.copy(a.sun_path, sizeof a.sun_path - 1);
   ASSERT_EQ(::bind(listener, reinterpret_cast<sockaddr*>(&a), sizeof a), 0);
   ASSERT_EQ(::listen(listener, 8), 0);
   timeval const wait{10, 0};  // accept gives up too
   ::setsockopt(listener, SOL_SOCKET, SO_RCVTIMEO, &wait, sizeof wait);
   // The dying agent hangs up on whoever connects, a few times, and then is gone.
   std::thread dies([&] {
      for (int i = 0; i < 3; ++i)
         ::close(::accept(listener, nullptr, nullptr));
      ::close(listener);
      ::unlink(path.c_str());
      dying.release();
   });
   Agent served(st);
   dies.join();
   st.ok("stop");
   EXPECT_EQ(served.wait(), 0);
}

}  // namespace
}  // namespace TwiceNatCliTest
