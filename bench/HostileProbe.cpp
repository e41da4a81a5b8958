// The hostile-client probe: a serving agent over a loaded table, a loop of set requests from one
// client, and beside it, one scenario at a time, clients that stop reading a show, read it at a
// trickle, flood requests without reading, write batches as fast as they can, or sit idle by
// the thousand. Reports each scenario's set round trips (median, 99th percentile, worst) against
// the goal of 50 ms, whether the hostile client was cut off, and the agent's memory. One more
// scenario reads the whole table through the agent at full speed and reports its rate. Figures,
// not a test: run it on a quiet machine.
//
//   twicenat_probe [--twicenat PATH] [--entries N] [--seconds S] [--idle N] [--nofile N]
//                  [--only TEXT]    scenarios whose name holds TEXT
#include <signal.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iostream>
#include <mutex>
#include <sstream>
#include <thread>

#include "agent/cli/Args.h"
#include "agent/cli/InputError.h"
#include "agent/service/Client.h"
#include "agent/service/RequestCodec.h"
#include "support/ChildProcess.h"

namespace {

using namespace TwiceNatService;
using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;
using Args = std::vector<std::string>;

struct Options {
   std::string twicenat = TWICENAT_BIN_DIR "/twicenat";
   int entries = 200000, seconds = 12, idle = 1000, nofile = 0;
   std::string only;
};

// What a scenario says besides the set loop's figures.
struct Note {
   std::mutex mutex;
   std::string text;
   void is(std::string t) {
      std::scoped_lock lock(mutex);
      text = std::move(t);
   }
};

int rawConnect(std::string const& path) {
   int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
   sockaddr_un a{};
   a.sun_family = AF_UNIX;
   std::snprintf(a.sun_path, sizeof a.sun_path, "%s", path.c_str());
   timeval const limit{2, 0};
   ::setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &limit, sizeof limit);
   if (::connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0) {
      ::close(fd);
      return -1;
   }
   return fd;
}

// Whether the agent closed the connection (reading what is left, for a moment).
bool closedByAgent(int fd) {
   char chunk[65536];
   auto const until = Clock::now() + 2s;
   while (Clock::now() < until) {
      ssize_t const n = ::recv(fd, chunk, sizeof chunk, MSG_DONTWAIT);
      if (n == 0 || (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK)) return true;
      if (n < 0) std::this_thread::sleep_for(10ms);
   }
   return false;
}

std::string showLine() {
   Request q;
   q.op = Op::show;
   return encodeRequest(q);
}

long rssKiB(pid_t pid, char const* field) {
   std::ifstream in("/proc/" + std::to_string(pid) + "/status");
   for (std::string line; std::getline(in, line);) {
      if (line.rfind(field, 0) == 0) return std::stol(line.substr(std::strlen(field) + 1));
   }
   return -1;
}

struct Scenario {
   std::string name;
   bool cutExpected = true;
   // Starts the hostile client(s); returns the sockets to check for a cut-off at the end.
   std::function<std::vector<int>(std::string const& socket, std::atomic<bool> const& done,
                                  std::vector<std::thread>& threads, Note& note)>
       start;
};

std::vector<Scenario> scenarios(Options const& o, std::string const& state) {
   auto raw = [](char const* name, std::function<void(int, std::atomic<bool> const&)> act) {
      return Scenario{name, true,
                      [act](std::string const& s, auto const& done, auto& threads, Note&) {
                         int const fd = rawConnect(s);
                         threads.emplace_back([fd, act, &done] { act(fd, done); });
                         return std::vector<int>{fd};
                      }};
   };
   std::vector<Scenario> all = {
       {"no other client", false,
        [](auto const&, auto const&, auto&, Note&) { return std::vector<int>{}; }},
       {"whole table read at full speed", false,
        [](std::string const& s, auto const& done, auto& threads, Note& note) {
           threads.emplace_back([s, &done, &note] {
              auto c = Client::connect(s, 10s);
              for (bool first = true; !done; first = false) {
                 auto const t0 = Clock::now();
                 c->submit(Request{Op::show});
                 Page page;
                 U64 rows = 0;
                 for (bool more = true; more;) {
                    more = c->page(page);
                    rows += page.rows.size();
                 }
                 double const secs = std::chrono::duration<double>(Clock::now() - t0).count();
                 if (first) {
                    note.is("read " + std::to_string(rows) + " entries in " + std::to_string(secs) +
                            " s: " + std::to_string(U64(double(rows) / secs)) + " entries/s");
                 }
              }
           });
           return std::vector<int>{};
        }},
       raw("show never read",
           [](int fd, auto const&) {
              std::string const l = showLine();
              ::send(fd, l.data(), l.size(), MSG_NOSIGNAL);
           }),
       raw("show read at 64 KiB per 2 s",
           [](int fd, auto const& done) {
              std::string const l = showLine();
              ::send(fd, l.data(), l.size(), MSG_NOSIGNAL);
              char chunk[65536];
              while (!done) {
                 ::recv(fd, chunk, sizeof chunk, MSG_DONTWAIT);
                 for (int i = 0; i < 200 && !done; ++i)
                    std::this_thread::sleep_for(10ms);
              }
           }),
       raw("status requests flooded, never read",
           [](int fd, auto const& done) {
              Request q;
              std::string burst;
              for (int i = 0; i < 100; ++i)
                 burst += encodeRequest(q);
              while (!done) {
                 if (::send(fd, burst.data(), burst.size(), MSG_NOSIGNAL | MSG_DONTWAIT) < 0)
                    std::this_thread::sleep_for(1ms);
              }
           }),
       {"batches of 8192 updates back to back", false,
        [](std::string const& s, auto const& done, auto& threads, Note&) {
           threads.emplace_back([s, &done] {
              auto c = Client::connect(s, 10s);
              Request q;
              q.op = Op::apply;
              for (U32 i = 0; i < kMaxBatchUpdates; ++i)
                 q.updates.push_back({UpdateKind::program,
                                      {{0x0B000000u + i, 0x01010101u, 0, true},
                                       {ActionKind::hit, 1, 2, 6, 0, U16(i)}}});
              while (!done && c)
                 c->call(q);
           });
           return std::vector<int>{};
        }},
   };
   all.push_back({"show client stopped by SIGSTOP", false,
                  [o, state](std::string const&, auto const& done, auto& threads, Note&) {
                     threads.emplace_back([o, state, &done] {
                        TwiceNatTest::ChildProcess show(
                            {o.twicenat, "--state", state, "show", "--json"},
                            state + "/../stopped-show");
                        std::this_thread::sleep_for(50ms);
                        show.signal(SIGSTOP);
                        while (!done)
                           std::this_thread::sleep_for(10ms);
                        show.signal(SIGKILL);
                        show.signal(SIGCONT);
                     });
                     return std::vector<int>{};
                  }});
   all.push_back({std::to_string(o.idle) + " idle connections", false,
                  [o](std::string const& s, auto const&, auto&, Note&) {
                     std::vector<int> fds;
                     for (int i = 0; i < o.idle; ++i)
                        fds.push_back(rawConnect(s));
                     return fds;
                  }});
   return all;
}

}  // namespace

namespace {

Options parseOptions(int argc, char** argv) {
   TwiceNatCli::CommandSpec spec{
       .name = "twicenat_probe", .usage = "", .brief = "", .summary = "", .options = {}};
   for (char const* name : {"twicenat", "entries", "seconds", "idle", "nofile", "only"})
      spec.options.push_back({name, "VALUE", ""});
   Options o;
   auto const a = TwiceNatCli::parseArgs(Args(argv + 1, argv + argc), spec);
   o.twicenat = a.value("twicenat").value_or(o.twicenat);
   o.entries = int(a.number("entries", 10000000, U64(o.entries)));
   o.seconds = int(a.number("seconds", 3600, U64(o.seconds)));
   o.idle = int(a.number("idle", 100000, U64(o.idle)));
   o.nofile = int(a.number("nofile", 1 << 20, 0));
   o.only = a.value("only").value_or("");
   return o;
}

void run(std::string const& dir, std::string const& cmd, Args const& more = {}) {
   Args args{cmd, "--state", dir + "/state"};
   args.insert(args.end(), more.begin(), more.end());
   TwiceNatTest::ChildProcess p(args, dir + "/setup");
   if (p.wait() != 0) throw std::runtime_error("setup failed: " + p.err());
}

struct Latencies {
   std::vector<double> ms;
   U64 failed = 0;
   double at(double q) {
      if (ms.empty()) return 0;
      std::sort(ms.begin(), ms.end());
      return ms[std::min(ms.size() - 1, std::size_t(q * double(ms.size())))];
   }
};

// Set requests one after the other (a pause of 1 ms between) for `seconds`.
Latencies setLoop(Client& c, int seconds) {
   Latencies l;
   Request q;
   q.op = Op::program;
   q.entry = {{0x0C000001u, 0x01010101u, 0, true}, {ActionKind::hit, 1, 2, 6, 0, 0}};
   auto const until = Clock::now() + std::chrono::seconds(seconds);
   for (U16 i = 0; Clock::now() < until; ++i) {
      q.entry.action.target = i;
      auto const t0 = Clock::now();
      try {
         l.failed += !c.call(q).status.ok();
      } catch (std::exception const& e) {
         std::cerr << "set failed: " << e.what() << "\n";
         ++l.failed;
         break;
      }
      l.ms.push_back(std::chrono::duration<double, std::milli>(Clock::now() - t0).count());
      std::this_thread::sleep_for(1ms);
   }
   return l;
}

int probe(Options const& o) {
   std::string dir = (std::filesystem::temp_directory_path() / "twicenat-probe-XXXXXX").string();
   if (!::mkdtemp(dir.data())) throw std::runtime_error("cannot make " + dir);
   struct Cleanup {
      std::string dir;
      ~Cleanup() { std::filesystem::remove_all(dir); }
   } cleanup{dir};
   std::string const state = dir + "/state";
   run(dir, o.twicenat, {"chip", "create", "--capacity", std::to_string(o.entries + 10000)});
   {
      std::ofstream f(dir + "/entries");
      for (int i = 0; i < o.entries; ++i)
         f << "10." << (i >> 16 & 255) << "." << (i >> 8 & 255) << "." << (i & 255)
           << " 192.168.0.1 1 hit 1 2 6 0 " << (i & 0xFFFF) << "\n";
   }
   run(dir, o.twicenat, {"load", dir + "/entries"});
   Args serve{o.twicenat, "--state", state, "serve"};
   if (o.nofile) {
      serve.insert(serve.begin(),
                   {"prlimit",
                    "--nofile=" + std::to_string(o.nofile) + ":" + std::to_string(o.nofile), "--"});
   }
   TwiceNatTest::ChildProcess agent(serve, dir + "/serve");
   if (!agent.ready()) throw std::runtime_error("the agent did not start: " + agent.err());
   pid_t const agentPid =
       pid_t(Client::connect(state + "/agent.sock", 10s)->call(Request{}).figures.pid);
   auto setter = Client::connect(state + "/agent.sock", 10s);
   std::printf("agent pid %d over %d entries%s, %d s per scenario; set round trips in ms\n",
               agentPid, o.entries,
               o.nofile ? (", RLIMIT_NOFILE " + std::to_string(o.nofile)).c_str() : "", o.seconds);
   std::printf("%-40s %7s %8s %8s %8s %6s %10s  %s\n", "scenario", "sets", "median", "p99", "worst",
               "goal", "agent MiB", "hostile client");
   for (Scenario const& sc : scenarios(o, state)) {
      if (sc.name.find(o.only) == std::string::npos) continue;
      std::atomic<bool> done = false;
      std::vector<std::thread> threads;
      Note note;
      long const before = rssKiB(agentPid, "VmRSS:");
      std::atomic<long> most = before;
      std::thread sampler([&] {
         while (!done) {
            most = std::max(most.load(), rssKiB(agentPid, "VmRSS:"));
            std::this_thread::sleep_for(10ms);
         }
      });
      std::vector<int> fds = sc.start(state + "/agent.sock", done, threads, note);
      Latencies l = setLoop(*setter, o.seconds);
      done = true;
      for (std::thread& t : threads)
         t.join();
      sampler.join();
      std::string fate = "-";
      if (sc.cutExpected) {
         fate = !fds.empty() && closedByAgent(fds[0]) ? "cut off" : "NOT cut off";
      }
      for (int fd : fds)
         if (fd >= 0) ::close(fd);
      double const worst = l.at(1.0);
      char memory[48];
      std::snprintf(memory, sizeof memory, "%ld>%ld", before / 1024, most.load() / 1024);
      std::printf("%-40s %7zu %8.3f %8.3f %8.3f %6s %10s  %s%s%s%s\n", sc.name.c_str(), l.ms.size(),
                  l.at(0.5), l.at(0.99), worst, worst <= 50 && !l.failed ? "PASS" : "MISS", memory,
                  fate.c_str(),
                  l.failed ? (", " + std::to_string(l.failed) + " sets failed").c_str() : "",
                  note.text.empty() ? "" : "; ", note.text.c_str());
      std::fflush(stdout);
   }
   std::printf("agent memory: %ld KiB now, %ld KiB at its peak\n", rssKiB(agentPid, "VmRSS:"),
               rssKiB(agentPid, "VmHWM:"));
   setter.reset();
   agent.signal(SIGTERM);
   agent.wait();
   std::istringstream log(agent.err());
   for (std::string line; std::getline(log, line);)
      std::printf("agent: %s\n", line.c_str());
   return 0;
}

}  // namespace

int main(int argc, char** argv) {
   try {
      return probe(parseOptions(argc, argv));
   } catch (std::exception const& e) {
      std::cerr << "twicenat_probe: " << e.what() << "\n";
      return 2;
   }
}
