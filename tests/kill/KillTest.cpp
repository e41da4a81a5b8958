// kill -9 of real twicenat processes in the middle of a load (and of a set/del loop beside it),
// then a restart and the checks a user relies on: the start succeeds, a read-only start after it
// finds nothing left to repair or reconcile (no orphan entry, no stale record), every entry holds
// what was asked of it, and running the load again converges on exactly the file. One line per
// trial, exit 0 iff all passed.
#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <mutex>
#include <random>
#include <set>
#include <sstream>
#include <thread>
#include <unordered_map>

#include "agent/cli/Args.h"
#include "agent/cli/Commands.h"
#include "agent/cli/EntrySpec.h"
#include "agent/cli/InputError.h"
#include "agent/cli/SdkLibrary.h"
#include "agent/cli/StateLock.h"
#include "support/ChildProcess.h"

namespace {

using Clock = std::chrono::steady_clock;
using TwiceNatCli::MatchKey;
using Args = std::vector<std::string>;
using Failures = std::vector<std::string>;
using Process = TwiceNatTest::ChildProcess;  // every child dies with the tool
template <class V>
using ByKey = std::unordered_map<MatchKey, V, TwiceNatCli::MatchKeyHash>;

std::string firstLine(std::string const& s) {
   return TwiceNatCli::cut(s.substr(0, s.find('\n')), 300);
}

// An action as a load line's columns: "onMiss", or "hit|ecmp KEY-ID RW-ID PROT FRAG TARGET".
std::string columnsOf(TwiceNatCli::ActionValues const& a) {
   std::string s(TwiceNatCli::actionName(a.kind));
   for (unsigned v : {unsigned(a.keyId), unsigned(a.rwId), unsigned(a.prot), unsigned(a.frag),
                      unsigned(a.target)})
      s += a.kind != TwiceNatCli::ActionKind::onMiss ? " " + std::to_string(v) : "";
   return s;
}

std::string randomAction(std::mt19937_64& rng) {
   return columnsOf({TwiceNatCli::ActionKind(rng() % 3), U16(rng()), U16(rng()), U8(rng()),
                     U8(rng() % 2), U16(rng())});
}

// The same action as a set command's options.
Args actionOptions(std::string const& action) {
   std::istringstream in(action);
   std::string kind, v;
   in >> kind;
   Args a{"--action", kind};
   for (char const* o :
        {"--key-id", "--rw-id", "--prot", "--frag", kind == "hit" ? "--next-hop" : "--ecmp-group"})
      if (in >> v) a.insert(a.end(), {o, v});
   return a;
}

// The keys a set/del loop adds and removes; the load file never uses them.
constexpr U32 kLoopDst = 0xAC100000u;  // 172.16.0.0
constexpr U32 kLoopSrc = 0x01010101u;

// What one trial asks of the table: the file's entries, and what each key may hold after a
// kill: "" for no entry, else an action's columns.
struct Expected {
   ByKey<std::string> file;
   std::vector<MatchKey> order;  // the file's lines in order
   ByKey<std::set<std::string>> may;
};

Expected writeLoadFile(std::string const& path, int entries, uint64_t seed) {
   std::mt19937_64 rng(seed);
   Expected x;
   for (int i = 0; i < entries; ++i) {
      MatchKey const k{0x0A000000u + U32(i), 0xC0A80000u + U32(rng() % 65536), U16(rng() % 16),
                       true};
      x.file[k] = randomAction(rng);
      x.may[k] = {"", x.file[k]};
      x.order.push_back(k);
   }
   std::shuffle(x.order.begin(), x.order.end(), rng);
   std::ofstream out(path);
   for (MatchKey const& k : x.order)
      out << TwiceNatCli::dotted(k.dip) << " " << TwiceNatCli::dotted(k.sip) << " " << k.vrf << " "
          << x.file[k] << "\n";
   return x;
}

struct Options {
   std::string twicenat = TWICENAT_BIN_DIR "/twicenat";
   int trials = 10, entries = 20000;
   std::string mode = "both";
   uint64_t seed = std::random_device()();
   std::string work;
};

Options parseOptions(int argc, char** argv) {
   TwiceNatCli::CommandSpec spec{
       .name = "twicenat_killtest", .usage = "", .brief = "", .summary = "", .options = {}};
   for (char const* name : {"twicenat", "trials", "entries", "mode", "seed"})
      spec.options.push_back({name, "VALUE", ""});
   Options o;
   try {
      auto const a = TwiceNatCli::parseArgs(Args(argv + 1, argv + argc), spec);
      if (a.help()) throw TwiceNatCli::InputError("kill -9 trials of twicenat");
      o.twicenat = a.value("twicenat").value_or(o.twicenat);
      o.trials = int(a.number("trials", 100000, 10));
      o.entries = int(a.number("entries", 4000000, 20000));
      o.mode = a.value("mode").value_or(o.mode);
      o.seed = a.number("seed", ~0ull, o.seed);
      if (o.trials < 1 || o.entries < 1) throw TwiceNatCli::InputError("N and M start at 1");
      if (o.mode != "oneshot" && o.mode != "serve" && o.mode != "both")
         throw TwiceNatCli::InputError("--mode: '" + o.mode + "' is not oneshot, serve or both");
      if (::access(o.twicenat.c_str(), X_OK) != 0)
         throw TwiceNatCli::InputError("no executable twicenat at " + o.twicenat);
   } catch (TwiceNatCli::InputError const& e) {
      std::cerr << "twicenat_killtest: " << e.what()
                << "\nusage: twicenat_killtest [--twicenat PATH] "
                << "[--trials N] [--entries M] [--mode oneshot|serve|both] [--seed S]\n";
      std::exit(2);
   }
   return o;
}

// One trial's folder and the twicenat commands run in it.
class Trial {
 public:
   Trial(Options const& o, std::string dir) : opt_(o), dir_(std::move(dir)) {
      std::filesystem::create_directories(dir_);
   }
   ~Trial() { std::filesystem::remove_all(dir_); }
   std::string path(std::string const& name) const { return dir_ + "/" + name; }

   // A process of its own; its output in files named after `tag` and a serial number.
   std::unique_ptr<Process> start(std::string const& tag, Args const& words) {
      Args a{opt_.twicenat, "--state", path("state")};
      a.insert(a.end(), words.begin(), words.end());
      return std::make_unique<Process>(a, path(tag + "." + std::to_string(serial_++)));
   }
   // Runs `words` to its end; a failure unless it exits 0.
   void run(std::string const& tag, Args const& words, Failures& f) {
      auto p = start(tag, words);
      if (int const s = p->wait(); s != 0)
         f.push_back(tag + " exited " + std::to_string(s) + ": " + firstLine(p->err()));
   }
   // A serve, once it said it is ready; null when it ends first or takes over two minutes.
   std::unique_ptr<Process> serve(std::string const& tag, Failures& f) {
      auto p = start(tag, {"serve"});
      if (p->ready(120)) return p;
      f.push_back(tag + ": serve did not become ready: " + firstLine(p->err()));
      return nullptr;
   }
   // Stops a serve through its socket; both must exit 0.
   void stop(Process& agent, Failures& f) {
      run("stop", {"stop"}, f);
      if (int const s = agent.wait(); s != 0)
         f.push_back("serve exited " + std::to_string(s) + ": " + firstLine(agent.err()));
   }

 private:
   Options const& opt_;
   std::string dir_;
   std::atomic<int> serial_{0};
};

// Sets loop keys, changes file keys' actions and deletes loop keys it set, one twicenat
// process at a time, until stopped; records what was acknowledged. In one-shot runs its process
// waits for the folder's lock while the load holds it, so the first start after a kill of the
// load is often one of the loop's.
class SetDelLoop {
 public:
   SetDelLoop(Trial& t, Expected& x, uint64_t seed)
       : t_(t), x_(x), rng_(seed), thread_([this] { body(); }) {}
   ~SetDelLoop() { stop(); }
   // Kills the process in flight, if any (it counts as unsure); false when there was none.
   bool killCurrent() {
      std::lock_guard<std::mutex> lock(m_);
      return current_ && ::kill(current_, SIGKILL) == 0;
   }
   // Lets the process in flight finish, then ends the loop; a failure seen before any kill.
   std::string stop() {
      stop_ = true;
      if (thread_.joinable()) thread_.join();
      return failure_;
   }
   // From now on a request may fail: its agent or its process was killed.
   void killing() { killing_ = true; }

 private:
   void body() {
      std::vector<MatchKey> mine;
      for (U32 i = 0; !stop_; ++i) {
         MatchKey k;
         std::string action;  // none: a delete
         if (i % 3 == 0) {
            k = {kLoopDst + i, kLoopSrc, 0, true};
            action = randomAction(rng_);
         } else if (i % 3 == 1) {
            k = x_.order[rng_() % x_.order.size()];
            while ((action = randomAction(rng_)) == x_.file[k]) {
            }
         } else if (!mine.empty()) {
            k = mine[rng_() % mine.size()];
         } else {
            continue;
         }
         Args words{action.empty() ? "del" : "set", "--dst", TwiceNatCli::dotted(k.dip), "--src",
                    TwiceNatCli::dotted(k.sip),     "--vrf", std::to_string(k.vrf)};
         for (std::string const& o : action.empty() ? Args{} : actionOptions(action))
            words.push_back(o);
         // Recorded as possible first: a kill of this process leaves it so.
         std::set<std::string>& may =
             x_.may.try_emplace(k, std::set<std::string>{""}).first->second;
         may.insert(action);
         auto p = t_.start("loop", words);
         setCurrent(p->pid());
         siginfo_t info{};  // ended, but not reaped: its pid stays its own for killCurrent
         ::waitid(P_PID, id_t(p->pid()), &info, WEXITED | WNOWAIT);
         setCurrent(0);
         int const status = p->wait();
         if (status == 0 && !x_.file.count(k)) {
            may = {action};
            if (action.empty()) std::erase(mine, k);
            if (!action.empty()) mine.push_back(k);
         } else if (status != 0 && !killing_ && failure_.empty()) {
            failure_ = words[0] + " of " + TwiceNatCli::keyText(k) + " exited " +
                       std::to_string(status) + ": " + firstLine(p->err());
         }
      }
   }
   void setCurrent(pid_t pid) {
      std::lock_guard<std::mutex> lock(m_);
      current_ = pid;
   }

   Trial& t_;
   Expected& x_;
   std::mt19937_64 rng_;
   std::atomic<bool> stop_{false}, killing_{false};
   std::mutex m_;
   pid_t current_ = 0;
   std::string failure_;
   std::thread thread_;  // last: it starts on members above
};

// Seconds a load of the file takes, and a one-shot command over that many entries, unkilled.
struct Timing {
   double load = 0, oneShot = 0;
};

class Runner {
 public:
   explicit Runner(Options const& o) : opt_(o), rng_(o.seed) {}

   // One trial; true when every check passed. Unless `kill`, nothing is killed and `tm`
   // receives the times measured (they place the kills of the trials after it).
   bool trial(std::string const& name, bool serve, bool withLoop, Timing& tm, bool kill) {
      Trial t(opt_, opt_.work + "/" + std::to_string(++serial_));
      Expected x = writeLoadFile(t.path("load"), opt_.entries, rng_());
      Failures f;
      t.run("chip create", {"chip", "create", "--capacity", std::to_string(opt_.entries + 4096)},
            f);
      std::uniform_real_distribution<double> unit;
      double const fraction = 0.1 + 0.8 * unit(rng_), loopKillDelay = unit(rng_) * tm.oneShot;
      {
         std::unique_ptr<Process> agent = serve ? t.serve("serve", f) : nullptr;
         Clock::time_point const loadBegan = Clock::now();
         std::unique_ptr<Process> load = t.start("load", {"load", t.path("load")});
         std::unique_ptr<SetDelLoop> loop;
         if (withLoop) {
            // One-shot: the load first, so that the kill lands in it rather than in its wait
            // for the loop's process.
            for (int i = 0; !serve && i < 2000 && !TwiceNatCli::stateLockBusy(t.path("state")) &&
                            !load->ended();
                 ++i)
               std::this_thread::sleep_for(std::chrono::milliseconds(1));
            loop = std::make_unique<SetDelLoop>(t, x, rng_());
         }
         if (kill) {
            std::this_thread::sleep_until(loadBegan +
                                          std::chrono::duration_cast<Clock::duration>(
                                              std::chrono::duration<double>(fraction * tm.load)));
            if (loop) loop->killing();
            if (Process* victim = serve ? agent.get() : load.get()) victim->signal(SIGKILL);
         }
         int const ls = load->wait();
         if (!kill) tm.load = std::chrono::duration<double>(Clock::now() - loadBegan).count();
         bool const gone =
             serve ? load->err().find("the agent went away") != std::string::npos : ls == -SIGKILL;
         if (ls != 0 && !(kill && gone))
            f.push_back("load exited " + std::to_string(ls) + ": " + firstLine(load->err()));
         if (loop && !serve) {
            // The loop's next process starts over what the kill left: kill it too, at some
            // moment of its run.
            std::this_thread::sleep_for(std::chrono::duration<double>(loopKillDelay));
            loop->killCurrent();
         }
         if (loop)
            if (std::string const e = loop->stop(); !e.empty())
               f.push_back("before the kill: " + e);
         if (agent && !kill) t.stop(*agent, f);
      }
      restartAndCheck(t, x, serve, tm, kill, f);
      std::printf("%s %s%s: %s\n", name.c_str(), serve ? "serve" : "oneshot",
                  withLoop ? "+loop" : "", f.empty() ? "ok" : "FAILED");
      for (std::string const& l : f)
         std::printf("  %s\n", l.c_str());
      return f.empty();
   }

 private:
   // The next start after the kill, the checks on what it left, the load once more, and the
   // checks that it converged on the file.
   void restartAndCheck(Trial& t, Expected& x, bool serve, Timing& tm, bool kill, Failures& f) {
      std::unique_ptr<Process> agent;
      Clock::time_point const began = Clock::now();
      if (serve && !(agent = t.serve("restart", f))) return;
      if (!serve) t.run("restart", {"show", "--json"}, f);
      if (!serve && !kill) tm.oneShot = std::chrono::duration<double>(Clock::now() - began).count();
      if (!f.empty()) return;
      check(t, x, "after the restart", f);
      t.run("reload", {"load", t.path("load")}, f);
      for (auto const& [k, action] : x.file)
         x.may[k] = {action};
      check(t, x, "after the re-load", f);
      if (agent) t.stop(*agent, f);
   }

   // The state as a read-only start of the agent in this process finds it: nothing left to
   // repair or reconcile, and every key in a state it may be in.
   void check(Trial const& t, Expected const& x, std::string const& when, Failures& f) {
      std::size_t bad = 0;
      auto fail = [&](std::string const& l) {
         if (++bad <= 5) f.push_back(when + ": " + l);
      };
      try {
         auto c = chip::Chip::open(t.path("state/chip"), chip::ChipAccess::readOnly);
         chip::ChipInventory const inventory(*c);
         auto s = TwiceNatCli::coreOver(*c, inventory, t.path("state/keys"), sdk_, true);
         std::vector<std::string> notes = c->openNotes();
         for (std::string const& n : s->startReport().notes)
            notes.push_back(n);
         if (notes.size() > 1 || s->startReport().reconciledAnything())
            for (std::string const& n : notes)
               fail("a start left something to settle: " + n);
         ByKey<std::string> held;
         std::vector<TwiceNatAgent::EntryRow> rows;
         for (U64 at = s->readPage(0, 4096, {}, rows); at;)
            at = s->readPage(at, 4096, {}, rows);
         for (auto const& row : rows) {
            bool const lost = row.origin == TwiceNatAgent::EntryOrigin::missingOnChip;
            held[row.entry.match] = lost ? "a lost entry" : columnsOf(row.entry.action);
         }
         for (auto const& [k, may] : x.may) {
            auto const h = held.find(k);
            std::string const is = h == held.end() ? "" : h->second;
            if (!may.count(is)) fail(TwiceNatCli::keyText(k) + " holds '" + is + "'");
            if (h != held.end()) held.erase(h);
         }
         for (auto const& [k, a] : held)
            fail("an entry for " + TwiceNatCli::keyText(k) + ", which nobody asked for");
      } catch (std::exception const& e) {
         fail(std::string("the state does not open: ") + e.what());
      }
      if (bad > 5) f.push_back(when + ": " + std::to_string(bad - 5) + " more failures");
   }

   Options const& opt_;
   std::mt19937_64 rng_;
   int serial_ = 0;
   TwiceNatCli::SdkLibrary sdk_;
};

// A process of its own that removes `dir` once the tool is gone, however it went (a kill -9
// too). Its children die with it, so nothing writes into the folder afterwards.
void removeWhenGone(std::string const& dir) {
   int fds[2];
   if (::pipe(fds) != 0) return;
   if (::fork() == 0) {
      ::setsid();
      for (int sig : {SIGINT, SIGTERM, SIGHUP})
         ::signal(sig, SIG_IGN);
      ::close(fds[1]);
      char c;
      while (::read(fds[0], &c, 1) < 0 && errno == EINTR) {
      }
      std::error_code ec;  // the children die by signal: give them a moment to be gone
      for (int i = 0; i < 20 && (std::filesystem::remove_all(dir, ec), ec); ++i)
         ::usleep(50000);
      ::_exit(0);
   }
   ::close(fds[0]);
   ::fcntl(fds[1], F_SETFD, FD_CLOEXEC);  // the write end stays open until the tool is gone
}

}  // namespace

int main(int argc, char** argv) {
   Options opt = parseOptions(argc, argv);
   std::setvbuf(stdout, nullptr, _IOLBF, 0);  // a line per trial as it ends
   char const* tmp = std::getenv("TMPDIR");
   opt.work = std::string(tmp && *tmp ? tmp : "/tmp") + "/twicenat-kill-XXXXXX";
   if (!::mkdtemp(opt.work.data())) {
      std::cerr << "twicenat_killtest: cannot make a folder " << opt.work << "\n";
      return 2;
   }
   removeWhenGone(opt.work);
   std::printf("kill test: %d trials of %d entries, mode %s, seed %llu\n", opt.trials, opt.entries,
               opt.mode.c_str(), (unsigned long long)opt.seed);
   int passed = 0, run = 0;
   try {
      Runner runner(opt);
      bool const oneshot = opt.mode != "serve", serve = opt.mode != "oneshot";
      Timing tm[2];  // one-shot, serve: from an unkilled run, checked like a trial
      for (bool s : {false, true})
         if ((s ? serve : oneshot) && !runner.trial("calibration", s, false, tm[s], false))
            throw std::runtime_error("an unkilled run failed: nothing to measure kills by");
      for (int n = 1; n <= opt.trials; ++n, ++run) {
         // Both: alternate modes; the loop joins every other trial of each mode.
         bool const isServe = serve && (!oneshot || n % 2 == 0);
         bool const withLoop = oneshot && serve ? ((n + 1) / 2) % 2 == 0 : n % 2 == 0;
         passed += runner.trial("trial " + std::to_string(n), isServe, withLoop, tm[isServe], true);
      }
   } catch (std::exception const& e) {
      std::printf("kill test stopped: %s\n", e.what());
   }
   std::printf("%d of %d trials passed (seed %llu)\n", passed, run, (unsigned long long)opt.seed);
   return passed == opt.trials ? 0 : 1;
}
