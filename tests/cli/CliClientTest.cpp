// A command as the agent's client: it gives up on an agent that does not answer, with one line,
// and tells an agent that closed its connection from one that went away.
#include <signal.h>
#include <sys/socket.h>
#include <sys/un.h>

#include <thread>

#include "cli/CliRunner.h"

namespace TwiceNatCliTest {
namespace {

using namespace std::chrono_literals;

// An agent that stops: every kind of command gives up after its timeout, in one line.
TEST(CliClientTest, AStoppedAgentTimesCommandsOut) {
   CliState st;
   st.ok("chip create --capacity 16");
   std::string const file = st.file("f", "10.0.0.1 10.0.0.2 - onMiss\n");
   Agent agent(st);
   agent.signal(SIGSTOP);
   for (std::string const& line : std::vector<std::string>{
            "status", "--no-wait status", "set --dst 1.1.1.1 --src 2.2.2.2 --action onMiss", "show",
            "load " + file, "stop"}) {
      SCOPED_TRACE(line);
      auto const t0 = std::chrono::steady_clock::now();
      CliResult const r = st.run("--timeout 0.3 " + line);
      EXPECT_LT(std::chrono::steady_clock::now() - t0, 30s) << "gave up at all";
      EXPECT_EQ(r.status, 1);
      EXPECT_THAT(r.err, HasSubstr("the agent serving " + st.dir() + " is not answering"));
      EXPECT_THAT(r.err, HasSubstr("(--timeout SECONDS waits longer)"));
      EXPECT_EQ(lineCount(r.err), 1) << r.err;
   }
   agent.signal(SIGCONT);
   EXPECT_EQ(st.run("status").status, 0) << "the agent serves on";
}

// A stand-in agent on the folder's socket that hangs up on every client, or is gone.
class HangingUpAgent {
 public:
   explicit HangingUpAgent(std::string const& path) {
      fd_ = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
      sockaddr_un a{};
      a.sun_family = AF_UNIX;
      std::snprintf(a.sun_path, sizeof a.sun_path, "%s", path.c_str());
      EXPECT_EQ(::bind(fd_, reinterpret_cast<sockaddr*>(&a), sizeof a), 0);
      EXPECT_EQ(::listen(fd_, 16), 0);
      thread_ = std::thread([this] {
         for (;;) {
            int const c = ::accept(fd_, nullptr, nullptr);
            if (c < 0) return;
            char buffer[4096];
            ::recv(c, buffer, sizeof buffer, 0);  // the request, then nothing
            ::close(c);
         }
      });
   }
   ~HangingUpAgent() {
      ::shutdown(fd_, SHUT_RDWR);
      ::close(fd_);
      thread_.join();
   }

 private:
   int fd_;
   std::thread thread_;
};

TEST(CliClientTest, AClosedConnectionIsNotAnAgentThatWentAway) {
   CliState st;
   st.ok("chip create --capacity 16");
   std::string const set = "set --dst 1.1.1.1 --src 2.2.2.2 --action onMiss";
   {
      HangingUpAgent agent(st.dir() + "/agent.sock");
      CliResult const r = st.run(set);
      EXPECT_EQ(r.status, 1);
      EXPECT_THAT(r.err, HasSubstr("the agent closed the connection: "));
      EXPECT_THAT(r.err, HasSubstr("(agent pid " + std::to_string(::getpid()) + " still serves " +
                                   st.dir() + "; its log says why)"));
      EXPECT_THAT(r.err, Not(HasSubstr("went away")));
   }
   // Gone, with its socket left behind: the command runs on its own.
   EXPECT_EQ(st.run(set).status, 0);
   EXPECT_THAT(st.ok("show"), HasSubstr("1 entry of 1"));
}

#if defined(__has_feature)
#if __has_feature(address_sanitizer)
constexpr bool kSanitized = true;
#else
constexpr bool kSanitized = false;
#endif
#else
constexpr bool kSanitized = false;
#endif

// Under a low descriptor limit the agent either serves (a client gets its answer) or says in
// one line, before it is ready, that the limit leaves no room: never a ready agent no client
// can reach.
TEST(CliClientTest, AgentUnderADescriptorLimitServesOrSaysWhyNot) {
   if (std::system("prlimit --version >/dev/null 2>&1") != 0) GTEST_SKIP() << "needs prlimit";
   // The sanitizers' runtime opens a pipe to check the memory behind each type check it makes;
   // with the table full it reports a fault that is not there, at any limit the agent reaches.
   if (kSanitized) GTEST_SKIP() << "the sanitizers need descriptors of their own";
   CliState st;
   st.ok("chip create --capacity 16");
   int served = 0;
   for (int limit : {8, 9, 10, 12, 16}) {
      SCOPED_TRACE(limit);
      std::string const nofile = "--nofile=" + std::to_string(limit) + ":" + std::to_string(limit);
      Args args{"prlimit", nofile, "--"};
      for (std::string const& a : st.argv("serve"))
         args.push_back(a);
      TwiceNatTest::ChildProcess agent(args, st.root() + "/limited");
      if (!agent.ready(30)) {
         // Refused early: the start itself, or the room it leaves for clients.
         EXPECT_NE(agent.wait(), 0);
         EXPECT_THAT(agent.err(), ContainsRegex("leaves no room for a client|Too many open files"));
         EXPECT_EQ(lineCount(agent.err()), 1) << agent.err();
         continue;
      }
      ++served;
      // Two clients at once: the second waits for the first when only one fits.
      TwiceNatTest::ChildProcess first(st.argv("--timeout 5 status"), st.root() + "/first");
      CliResult const second = st.run("--timeout 5 status");
      EXPECT_EQ(second.status, 0) << second.err;
      EXPECT_EQ(first.wait(), 0) << first.err();
      agent.signal(SIGTERM);
      EXPECT_EQ(agent.wait(), 0);
   }
   EXPECT_GT(served, 0);
}

TEST(CliClientTest, StatusSaysWhoServesInJsonToo) {
   CliState st;
   st.ok("chip create --capacity 16");
   CliResult none = st.run("status --json");
   EXPECT_EQ(none.status, 1);
   nlohmann::json j = nlohmann::json::parse(none.out);
   EXPECT_EQ(j["serving"], false);
   EXPECT_EQ(j["stateDir"], st.dir());
   Agent agent(st);
   j = nlohmann::json::parse(st.ok("status --json"));
   EXPECT_EQ(j["serving"], true);
   EXPECT_EQ(j["pid"], agent.pid());
   EXPECT_EQ(j["clients"], 1);
   for (auto const& [timeout, why] : {std::pair{"0", "give more than 0 seconds"},
                                      {"1.5s", "'1.5s' is not a number of seconds"},
                                      {"x", "'x' is not a number"}}) {
      CliResult const r = st.run(std::string("--timeout ") + timeout + " status");
      EXPECT_EQ(r.status, 2);
      EXPECT_THAT(r.err, HasSubstr(why));
   }
}

}  // namespace
}  // namespace TwiceNatCliTest
