// kill -9 of real twicenat processes in the middle of a load (and of a set/del loop beside it),
// then a restart and the checks a user relies on: the start succeeds, the chip and the key
// table agree record for record, every entry holds what was asked of it, and running the load
// again converges on exactly the file. One line per trial, exit 0 iff all passed.
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
#include <unordered_set>

#include "agent/KeyTable.h"
#include "agent/cli/Args.h"
#include "agent/cli/EntrySpec.h"
#include "agent/cli/InputError.h"
#include "agent/cli/StateLock.h"
#include "chip/Chip.h"
#include "support/ChildProcess.h"

namespace {

using Clock = std::chrono::steady_clock;
using TwiceNatCli::MatchKey;
using Args = std::vector<std::string>;
using Failures = std::vector<std::string>;
using Process = TwiceNatTest::ChildProcess;  // every child dies with the tool
template <class V>
using ByKey = std::unordered_map<MatchKey, V, TwiceNatCli::MatchKeyHash>;

double secondsSince(Clock::time_point t) {
   return std::chrono::duration<double>(Clock::now() - t).count();
}

std::string firstLine(std::string const& s) {
   return TwiceNatCli::cut(s.substr(0, s.find('\n')), 300);
}

// An action as a load line's columns: "onMiss", or "hit|ecmp KEY-ID RW-ID PROT FRAG TARGET".
std::string actionText(int kind, std::initializer_list<U64> params) {
   std::string s(TwiceNatCli::actionName(TwiceNatCli::ActionKind(kind)));
   for (U64 v : params)
      s += kind ? " " + std::to_string(v) : "";
   return s;
}

std::string randomAction(std::mt19937_64& rng) {
   int const kind = int(rng() % 3);
   return actionText(kind, {rng() % 65536, rng() % 65536, rng() % 256, rng() % 2, rng() % 65536});
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

// What one trial asks of the table: the file's entries, and what the set/del loop did.
struct Expected {
   ByKey<std::string> file;
   std::vector<MatchKey> order;  // the file's lines in order
   // Actions the loop set on file keys (a load after them sets the file's one again).
   ByKey<std::set<std::string>> fileChanges;
   // Loop keys: acknowledged present (true) or absent (false), and those whose last
   // request's outcome is unknown (the process was killed or its agent went away).
   ByKey<bool> loopKeys;
   std::unordered_set<MatchKey, TwiceNatCli::MatchKeyHash> loopUnsure;
};

Expected writeLoadFile(std::string const& path, int entries, uint64_t seed) {
   std::mt19937_64 rng(seed);
   Expected x;
   for (int i = 0; i < entries; ++i) {
      MatchKey const k{0x0A000000u + U32(i), 0xC0A80000u + U32(rng() % 65536), U16(rng() % 16),
                       true};
      x.file[k] = randomAction(rng);
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
      std::cerr
          << "twicenat_killtest: " << e.what() << "\n"
          << "usage: twicenat_killtest [--twicenat PATH] [--trials N] [--entries M]\n"
          << "         [--mode oneshot|serve|both] [--seed S]\n"
          << "Kills twicenat with SIGKILL at random moments of a load of M entries (every\n"
          << "other trial with a set/del loop beside it), restarts it and checks the state.\n";
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
   // Runs `words` to its end; a failure unless it exits 0. Returns its standard error.
   std::string run(std::string const& tag, Args const& words, Failures& f) {
      auto p = start(tag, words);
      if (int const s = p->wait(); s != 0)
         f.push_back(tag + " exited " + std::to_string(s) + ": " + firstLine(p->err()));
      return p->err();
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

// The chip and the key table, opened read-only in this process: no repair is left to do, the
// two agree record for record (no orphan entry, no stale record), and each entry holds what the
// file or the loop asked. With `converged`, the table holds exactly the file's entries plus the
// loop's own. Returns the chip's entry count.
std::size_t checkFiles(Trial const& t, Expected const& x, bool converged, std::string const& when,
                       Failures& f) {
   std::unique_ptr<chip::Chip> c;
   std::unique_ptr<TwiceNatAgent::KeyTable> kt;
   try {
      c = chip::Chip::open(t.path("state/chip"), chip::ChipAccess::readOnly);
      kt = TwiceNatAgent::KeyTable::open(t.path("state/keys"),
                                         TwiceNatAgent::KeyTableAccess::readOnly);
   } catch (std::exception const& e) {
      f.push_back(when + ": state files do not open: " + e.what());
      return 0;
   }
   std::size_t bad = 0;
   auto fail = [&](std::string const& l) {
      if (++bad <= 5) f.push_back(when + ": " + l);
   };
   for (auto const* notes : {&c->openNotes(), &kt->openNotes()})
      for (std::string const& n : *notes)
         fail("a start left a repair to do: " + n);

   std::unordered_map<U32, int> recorded;  // handle -> records naming it
   for (U64 slot = kt->nextTakenSlot(0); slot < kt->capacity();
        slot = kt->nextTakenSlot(slot + 1)) {
      if (kt->slotState(slot) != TwiceNatAgent::KeyTable::SlotState::used) {
         fail("key table slot " + std::to_string(slot) + " is damaged");
         continue;
      }
      auto const rec = kt->record(slot + 1);
      chip::EntryView view;
      if (c->entryGet(rec.sdkEntryHandle, &view) != chip::status::kOk)
         fail("key " + std::to_string(rec.key) + " names a handle the chip does not hold");
      ++recorded[rec.sdkEntryHandle];
   }
   std::unordered_set<MatchKey, TwiceNatCli::MatchKeyHash> present;
   std::size_t entries = 0;
   c->forEachEntry([&](chip::EntryView const& e) {
      ++entries;
      if (int const n = recorded.count(e.handle) ? recorded[e.handle] : 0; n != 1)
         fail("chip entry " + std::to_string(e.handle) + " has " + std::to_string(n) + " records");
      MatchKey const k{e.key.dip, e.key.sip, e.key.vrf, true};
      auto const& p = e.act.params;
      std::string const a = actionText(int(e.act.action), {p[0], p[1], p[2], p[3], p[4]});
      std::string const key = TwiceNatCli::keyText(k);
      if (!present.insert(k).second) fail("two chip entries for " + key);
      if (auto fi = x.file.find(k); fi != x.file.end()) {
         auto const ch = x.fileChanges.find(k);
         bool const changed = ch != x.fileChanges.end() && ch->second.count(a);
         if (a != fi->second && (converged || !changed))
            fail(key + " holds '" + a + "', the file says '" + fi->second + "'");
      } else if (auto li = x.loopKeys.find(k); li != x.loopKeys.end()) {
         if (!li->second && !x.loopUnsure.count(k)) fail(key + " was deleted");
      } else {
         fail("chip entry for " + key + ", which nobody asked for");
      }
   });
   if (kt->count() != entries)
      fail(std::to_string(kt->count()) + " key records for " + std::to_string(entries) +
           " entries");
   std::size_t missing = 0;
   for (auto const& [k, a] : x.file)
      missing += converged && !present.count(k);
   if (missing) fail(std::to_string(missing) + " of the file's entries missing");
   for (auto const& [k, there] : x.loopKeys)
      if (there && !present.count(k) && !x.loopUnsure.count(k))
         fail("acknowledged " + TwiceNatCli::keyText(k) + " is missing");
   if (bad > 5) f.push_back(when + ": " + std::to_string(bad - 5) + " more failures");
   return entries;
}

// Sets loop keys, changes file keys' actions and deletes loop keys it set, one twicenat
// process at a time, until stopped; records what was acknowledged. With `noWait` (one-shot
// runs) a process finding the folder's lock held gives up at once and the loop tries again,
// so the first start after a kill of the lock's holder is often one of the loop's.
class SetDelLoop {
 public:
   SetDelLoop(Trial& t, Expected& x, uint64_t seed, bool noWait)
       : t_(t), x_(x), rng_(seed), noWait_(noWait), thread_([this] { body(); }) {}
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
         if (noWait_) words.insert(words.begin(), "--no-wait");
         for (std::string const& o : action.empty() ? Args{} : actionOptions(action))
            words.push_back(o);
         // Recorded as unsure first: a kill of this process leaves it so.
         bool const loopKey = !x_.file.count(k), wasUnsure = x_.loopUnsure.count(k);
         if (loopKey) {
            x_.loopUnsure.insert(k);
            x_.loopKeys.try_emplace(k, false);
         } else {
            x_.fileChanges[k].insert(action);
         }
         auto p = t_.start("loop", words);
         setCurrent(p->pid());
         siginfo_t info{};  // ended, but not reaped: its pid stays its own for killCurrent
         ::waitid(P_PID, id_t(p->pid()), &info, WEXITED | WNOWAIT);
         setCurrent(0);
         int const status = p->wait();
         if (noWait_ && status == 1 && p->err().find("(--no-wait: not waiting)") != p->err().npos) {
            if (loopKey && !wasUnsure) x_.loopUnsure.erase(k);  // nothing done
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
            continue;
         }
         if (status == 0 && loopKey) {
            x_.loopUnsure.erase(k);
            x_.loopKeys[k] = !action.empty();
            if (action.empty()) std::erase(mine, k);
            if (!action.empty()) mine.push_back(k);
         } else if (status != 0 && !killing_ && failure_.empty()) {
            failure_ = words[noWait_] + " of " + TwiceNatCli::keyText(k) + " exited " +
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
   bool noWait_;
   std::atomic<bool> stop_{false}, killing_{false};
   std::mutex m_;
   pid_t current_ = 0;
   std::string failure_;
   std::thread thread_;  // last: it starts on members above
};

struct Timing {
   double load = 0;     // seconds a load of the file takes, unkilled
   double oneShot = 0;  // seconds a one-shot command takes over that many entries
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
      Clock::time_point const began = Clock::now();
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
            loop = std::make_unique<SetDelLoop>(t, x, rng_(), !serve);
         }
         if (kill) {
            std::this_thread::sleep_until(loadBegan +
                                          std::chrono::duration_cast<Clock::duration>(
                                              std::chrono::duration<double>(fraction * tm.load)));
            if (loop) loop->killing();
            (serve ? agent : load)->signal(SIGKILL);
         }
         int const ls = load->wait();
         if (!kill) tm.load = secondsSince(loadBegan);
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
      std::size_t const entries = restartAndCheck(t, x, serve, tm, kill, f);
      std::string const at = kill ? " killed at " + std::to_string(int(fraction * 100)) + "%" : "";
      std::printf("%s %s%s%s: %zu entries after the restart, %.1f s: %s\n", name.c_str(),
                  serve ? "serve" : "oneshot", withLoop ? "+loop" : "", at.c_str(), entries,
                  secondsSince(began), f.empty() ? "ok" : "FAILED");
      for (std::string const& l : f)
         std::printf("  %s\n", l.c_str());
      return f.empty();
   }

 private:
   // The next start after the kill, the checks on what it left, the load once more, and the
   // checks that it converged. Returns the entries the start found.
   std::size_t restartAndCheck(Trial& t, Expected& x, bool serve, Timing& tm, bool kill,
                               Failures& f) {
      std::unique_ptr<Process> agent;
      Clock::time_point const began = Clock::now();
      if (serve && !(agent = t.serve("restart", f))) return 0;
      if (!serve) t.run("restart", {"show", "--json"}, f);
      if (!serve && !kill) tm.oneShot = secondsSince(began);
      if (!f.empty()) return 0;
      std::size_t const entries = checkFiles(t, x, false, "after the restart", f);
      t.run("reload", {"load", t.path("load")}, f);
      checkFiles(t, x, true, "after the re-load", f);
      if (agent) t.stop(*agent, f);
      return entries;
   }

   Options const& opt_;
   std::mt19937_64 rng_;
   int serial_ = 0;
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
      Timing one, srv;
      auto calibrate = [&](bool s, Timing& tm) {  // an unkilled run, checked like a trial
         if (!runner.trial("calibration", s, false, tm, false))
            throw std::runtime_error("an unkilled run failed: nothing to measure kills by");
      };
      if (oneshot) calibrate(false, one);
      if (serve) calibrate(true, srv);
      for (int n = 1; n <= opt.trials; ++n, ++run) {
         // Both: alternate modes; the loop joins every other trial of each mode.
         bool const isServe = serve && (!oneshot || n % 2 == 0);
         bool const withLoop = oneshot && serve ? ((n + 1) / 2) % 2 == 0 : n % 2 == 0;
         passed += runner.trial("trial " + std::to_string(n), isServe, withLoop,
                                isServe ? srv : one, true);
      }
   } catch (std::exception const& e) {
      std::printf("kill test stopped: %s\n", e.what());
   }
   std::printf("%d of %d trials passed (seed %llu)\n", passed, run, (unsigned long long)opt.seed);
   std::error_code ec;
   std::filesystem::remove_all(opt.work, ec);
   return passed == opt.trials ? 0 : 1;
}
