// The agent as a service: the systemd unit's commands run as systemd runs them, readiness and
// stopping told to the service manager, and the log's levels.
#include <sys/socket.h>
#include <sys/time.h>
#include <sys/un.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <map>

#include "cli/CliRunner.h"

namespace TwiceNatCliTest {
namespace {

// A service manager's end of NOTIFY_SOCKET: one datagram per notification.
class NotifySocket {
 public:
   explicit NotifySocket(std::string path) : path_(std::move(path)) {
      fd_ = ::socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
      sockaddr_un a{};
      a.sun_family = AF_UNIX;
      path_.copy(a.sun_path, sizeof a.sun_path - 1);
      EXPECT_EQ(::bind(fd_, reinterpret_cast<sockaddr*>(&a), sizeof a), 0) << path_;
      timeval const wait{60, 0};
      ::setsockopt(fd_, SOL_SOCKET, SO_RCVTIMEO, &wait, sizeof wait);
   }
   ~NotifySocket() { ::close(fd_); }
   std::string const& path() const { return path_; }
   // The next notification; empty when none comes within a minute.
   std::string next() const {
      char buffer[4096];
      ssize_t const n = ::recv(fd_, buffer, sizeof buffer, 0);
      return n > 0 ? std::string(buffer, std::size_t(n)) : std::string();
   }

 private:
   std::string path_;
   int fd_ = -1;
};

// The unit's [Service] settings that say what systemd runs: Environment, ExecStartPre and
// ExecStart, as systemd reads them (one value each here).
std::map<std::string, std::string> unitCommands() {
   std::map<std::string, std::string> settings;
   std::ifstream unit(TWICENAT_UNIT);
   for (std::string line; std::getline(unit, line);) {
      std::size_t const eq = line.find('=');
      if (line.empty() || line[0] == '#' || eq == std::string::npos) continue;
      std::string const key = line.substr(0, eq);
      if (key == "Environment" || key == "ExecStartPre" || key == "ExecStart")
         settings[key] = line.substr(eq + 1);
   }
   return settings;
}

// Runs a command line of the unit as systemd does: its variables expanded ($$ is a dollar) in
// the environment systemd gives the service.
Args asSystemdRuns(std::string command, std::vector<std::string> const& environment) {
   for (std::size_t at = command.find("$$"); at != std::string::npos;
        at = command.find("$$", at + 1))
      command.erase(at, 1);
   Args args{"env"};
   args.insert(args.end(), environment.begin(), environment.end());
   args.insert(args.end(), {"sh", "-c", "exec " + command});
   return args;
}

// The log line's time and level.
std::string const kStamp =
    "[0-9]{4}-[0-9]{2}-[0-9]{2}T[0-9]{2}:[0-9]{2}:[0-9]{2}\\.[0-9]{3}[+-][0-9]{2}:[0-9]{2} ";

TEST(CliServiceTest, TheUnitStartsServeWhichReportsReadyAndStopping) {
   std::map<std::string, std::string> const unit = unitCommands();
   ASSERT_EQ(unit.size(), 3u) << "Environment, ExecStartPre and ExecStart";
   CliState st;
   NotifySocket manager(st.root() + "/notify");
   std::string environment = unit.at("Environment");
   if (environment.front() == '"') environment = environment.substr(1, environment.size() - 2);
   std::vector<std::string> const env = {environment, "STATE_DIRECTORY=" + st.dir(),
                                         "NOTIFY_SOCKET=" + manager.path()};
   ::mkdir(st.dir().c_str(), 0700);

   // The first start makes the chip, a later one keeps it.
   for (char const* says : {"created a chip in ", ""}) {
      CliResult const pre = st.runArgs("pre", asSystemdRuns(unit.at("ExecStartPre"), env));
      EXPECT_EQ(pre.status, 0) << pre.err;
      EXPECT_THAT(pre.out, ::testing::StartsWith(says));
   }
   TwiceNatTest::ChildProcess service(asSystemdRuns(unit.at("ExecStart"), env),
                                      st.root() + "/service");
   EXPECT_EQ(manager.next(), "READY=1\nSTATUS=serves " + st.dir() + ": 0 entries");
   EXPECT_THAT(service.err(),
               ContainsRegex("\n" + kStamp + "info agent pid [0-9]+ serves " + st.dir() + " on "));
   st.ok("set --dst 10.0.0.1 --src 10.0.0.2 --action onMiss");
   EXPECT_THAT(st.ok("status"), HasSubstr(": 1 entries"));
   EXPECT_THAT(st.ok("chip show"), HasSubstr("used         1 of 65536 entries"));
   ::kill(service.pid(), SIGTERM);
   EXPECT_EQ(manager.next(), "STOPPING=1\nSTATUS=stopping");
   EXPECT_EQ(service.wait(), 0);
   EXPECT_THAT(service.err(), ContainsRegex(kStamp + "info agent pid [0-9]+ stopped after 3 "
                                                     "requests\n$"));
}

TEST(CliServiceTest, TheUnitPassesSystemdsChecks) {
   if (std::system("systemd-analyze --version >/dev/null 2>&1") != 0)
      GTEST_SKIP() << "no systemd-analyze";
   CliState st;
   // A template is checked through an instance of it.
   std::string const instance = st.root() + "/twicenat@check.service";
   std::filesystem::copy_file(TWICENAT_UNIT, instance);
   CliResult const r = st.runArgs("verify", {"systemd-analyze", "verify", "--man=no", instance});
   EXPECT_EQ(r.status, 0);
   EXPECT_EQ(r.err, "");
}

TEST(CliServiceTest, LogLevelsChooseTheLines) {
   struct Case {
      char const* level;
      bool info, debug;
   };
   for (Case const& c : {Case{"debug", true, true}, Case{"info", true, false},
                         Case{"warning", false, false}, Case{"error", false, false}}) {
      SCOPED_TRACE(c.level);
      CliState st;
      st.ok("chip create --capacity 64");
      TwiceNatTest::ChildProcess agent(st.argv("serve --log-level=" + std::string(c.level)),
                                       st.root() + "/serve");
      // Without info lines there is no ready line to wait for: the agent answers instead.
      for (int i = 0; i < 600 && st.run("status").status != 0; ++i)
         ::usleep(100000);
      st.ok("stop");
      EXPECT_EQ(agent.wait(), 0);
      std::string const log = agent.err();
      EXPECT_EQ(log.find(" info agent pid ") != std::string::npos, c.info) << log;
      EXPECT_EQ(log.find(" debug request status: OK in ") != std::string::npos, c.debug)
          << log;
      if (!c.info) {
         EXPECT_EQ(log, "");
      }
   }
   CliState st;
   CliResult const bad = st.run("serve --log-level loud");
   EXPECT_EQ(bad.status, 2);
   EXPECT_EQ(bad.err,
             "twicenat: --log-level: 'loud' is not a level: use debug, info, warning or error\n");
}

}  // namespace
}  // namespace TwiceNatCliTest
