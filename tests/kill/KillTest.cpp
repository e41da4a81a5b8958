// kill -9 of real twicenat processes in the middle of a load (and of a set/del loop beside it),
// then a restart and the checks a user relies on: the start succeeds, the chip and the key
// table agree record for record, every entry holds what was asked of it, and running the load
// again converges on exactly the file. One line per trial, a summary, exit 0 iff all passed.
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
#include <map>
#include <mutex>
#include <optional>
#include <random>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "agent/KeyTable.h"
#include "agent/cli/StateLock.h"
#include "chip/Chip.h"
#include "support/ChildProcess.h"

namespace {

using Clock = std::chrono::steady_clock;
using Args = std::vector<std::string>;
using Failures = std::vector<std::string>;

double secondsSince(Clock::time_point t) {
   return std::chrono::duration<double>(Clock::now() - t).count();
}

std::string firstLine(std::string const& s) {
   std::string const t = s.substr(0, s.find('\n'));
   return t.size() > 300 ? t.substr(0, 300) + "..." : t;
}

// Every child dies with the tool, however the tool ends.
using Process = TwiceNatTest::ChildProcess;

// ---- what the table should hold ----

char const* const kActionNames[] = {"onMiss", "hit", "ecmp"};  // the chip's numbering

struct Action {
   int kind = 0;
   unsigned keyId = 0, rwId = 0, prot = 0, frag = 0, target = 0;
   auto operator<=>(Action const&) const = default;
   // As a load line writes it.
   std::string columns() const {
      std::string s = kActionNames[kind];
      for (unsigned v : {keyId, rwId, prot, frag, target})
         s += kind ? " " + std::to_string(v) : "";
      return s;
   }
   // As a set command takes it.
   Args options() const {
      Args a{"--action", kActionNames[kind]};
      if (kind == 0) return a;
      a.insert(a.end(), {"--key-id", std::to_string(keyId), "--rw-id", std::to_string(rwId),
                         "--prot", std::to_string(prot), "--frag", std::to_string(frag),
                         kind == 1 ? "--next-hop" : "--ecmp-group", std::to_string(target)});
      return a;
   }
   static Action of(chip::ActionRec const& a) {
      if (a.action == chip::Action(0)) return {};
      return {int(a.action), a.params[0], a.params[1], a.params[2], a.params[3], a.params[4]};
   }
};

struct Key {
   uint32_t dip = 0, sip = 0;
   uint16_t vrf = 0;
   auto operator<=>(Key const&) const = default;
};

std::string dotted(uint32_t a) {
   return std::to_string(a >> 24) + "." + std::to_string((a >> 16) & 255) + "." +
          std::to_string((a >> 8) & 255) + "." + std::to_string(a & 255);
}

std::string keyText(Key const& k) {
   return dotted(k.dip) + " " + dotted(k.sip) + " vrf " + std::to_string(k.vrf);
}

Action randomAction(std::mt19937_64& rng) {
   int const kind = int(rng() % 3);
   if (kind == 0) return {};
   return {kind,
           unsigned(rng() % 65536),
           unsigned(rng() % 65536),
           unsigned(rng() % 256),
           unsigned(rng() % 2),
           unsigned(rng() % 65536)};
}

// The keys a set/del loop adds and removes; the load file never uses them.
constexpr uint32_t kLoopDst = 0xAC100000u;  // 172.16.0.0
constexpr uint32_t kLoopSrc = 0x01010101u;

// What one trial asks of the table: the file's entries, and what the set/del loop did.
struct Expected {
   std::map<Key, Action> file;
   std::vector<Key> order;  // the file's lines in order
   // Actions the loop set on file keys (a load after them sets the file's one again).
   std::map<Key, std::set<Action>> fileChanges;
   // Loop keys: acknowledged present (true) or absent (false), and those whose last
   // request's outcome is unknown (the process was killed or its agent went away).
   std::map<Key, bool> loopKeys;
   std::set<Key> loopUnsure;
};

Expected writeLoadFile(std::string const& path, int entries, uint64_t seed) {
   std::mt19937_64 rng(seed);
   Expected x;
   for (int i = 0; i < entries; ++i) {
      Key const k{0x0A000000u + uint32_t(i), 0xC0A80000u + uint32_t(rng() % 65536),
                  uint16_t(rng() % 16)};
      x.file[k] = randomAction(rng);
      x.order.push_back(k);
   }
   std::shuffle(x.order.begin(), x.order.end(), rng);
   std::ofstream out(path);
   for (Key const& k : x.order)
      out << dotted(k.dip) << " " << dotted(k.sip) << " " << k.vrf << " " << x.file[k].columns()
          << "\n";
   return x;
}

// ---- options ----

struct Options {
   std::string twicenat = TWICENAT_BIN_DIR "/twicenat";
   int trials = 10;
   int entries = 20000;
   std::string mode = "both";
   uint64_t seed = std::random_device()();
   std::string work;
};

[[noreturn]] void usage(std::string const& why) {
   std::cerr << "twicenat_killtest: " << why << "\n"
             << "usage: twicenat_killtest [--twicenat PATH] [--trials N] [--entries M]\n"
             << "         [--mode oneshot|serve|both] [--seed S]\n"
             << "  N from 1 to 100000, M from 1 to 4000000.\n"
             << "Kills twicenat with SIGKILL at random moments of a load of M entries (every\n"
             << "other trial with a set/del loop beside it), restarts it and checks the state.\n";
   std::exit(2);
}

Options parseOptions(int argc, char** argv) {
   Options o;
   for (int i = 1; i < argc; i += 2) {
      std::string const a = argv[i], v = i + 1 < argc ? argv[i + 1] : "";
      char* end = nullptr;
      long long const n = std::strtoll(v.c_str(), &end, 10);
      bool const number = !v.empty() && !*end && n >= 0 && n < (1LL << 62);
      if (a == "--twicenat" && !v.empty()) {
         o.twicenat = v;
      } else if (a == "--trials" && number && n >= 1 && n <= 100000) {
         o.trials = int(n);
      } else if (a == "--entries" && number && n >= 1 && n <= 4000000) {
         o.entries = int(n);
      } else if (a == "--mode" && (v == "oneshot" || v == "serve" || v == "both")) {
         o.mode = v;
      } else if (a == "--seed" && number) {
         o.seed = uint64_t(n);
      } else {
         usage(a == "--help" || a == "-h" ? "kill -9 trials of twicenat"
                                          : "bad option '" + a + (v.empty() ? "'" : " " + v + "'"));
      }
   }
   if (::access(o.twicenat.c_str(), X_OK) != 0) usage("no executable twicenat at " + o.twicenat);
   return o;
}

// ---- one trial's folder and the commands run in it ----

class Trial {
 public:
   Trial(Options const& o, std::string dir) : opt_(o), dir_(std::move(dir)) {
      std::filesystem::create_directories(dir_);
   }
   ~Trial() { std::filesystem::remove_all(dir_); }
   std::string state() const { return dir_ + "/state"; }
   std::string path(std::string const& name) const { return dir_ + "/" + name; }

   // A process of its own; its output in files named after `tag` and a serial number.
   std::unique_ptr<Process> start(std::string const& tag, Args const& words) {
      Args a{opt_.twicenat, "--state", state()};
      a.insert(a.end(), words.begin(), words.end());
      std::string const n = path(tag + "." + std::to_string(serial_++));
      return std::make_unique<Process>(a, n + ".out", n + ".err");
   }
   // Runs `words` to its end; a failure line unless it exits 0. Returns its standard error.
   std::string run(std::string const& tag, Args const& words, Failures& f) {
      auto p = start(tag, words);
      if (int const s = p->wait(); s != 0)
         f.push_back(tag + " exited " + std::to_string(s) + ": " + firstLine(p->err()));
      return p->err();
   }
   // A serve, once it said it is ready (null when it ends first or takes over two minutes).
   std::unique_ptr<Process> serve(std::string const& tag, Failures& f) {
      auto p = start(tag, {"serve"});
      for (Clock::time_point const t = Clock::now(); secondsSince(t) < 120;) {
         if (p->out().find(" entries resynced in ") != std::string::npos) return p;
         if (p->ended()) break;
         std::this_thread::sleep_for(std::chrono::milliseconds(5));
      }
      f.push_back(tag + ": serve did not become ready: " + firstLine(p->err()));
      return nullptr;
   }
   // Stops a serve through its socket; both must exit 0. Returns what the serve printed.
   std::string stop(Process& agent, Failures& f) {
      run("stop", {"stop"}, f);
      if (int const s = agent.wait(); s != 0)
         f.push_back("serve exited " + std::to_string(s) + ": " + firstLine(agent.err()));
      return agent.out();
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
      c = chip::Chip::open(t.state() + "/chip", chip::ChipAccess::readOnly);
      kt = TwiceNatAgent::KeyTable::open(t.state() + "/keys",
                                         TwiceNatAgent::KeyTableAccess::readOnly);
   } catch (std::exception const& e) {
      f.push_back(when + ": state files do not open: " + e.what());
      return 0;
   }
   std::size_t bad = 0;
   auto fail = [&](std::string const& l) {
      if (++bad <= 5) f.push_back(when + ": " + l);
   };
   for (std::string const& n : c->openNotes())
      fail("chip file needed a repair after a start: " + n);
   for (std::string const& n : kt->openNotes())
      fail("key table needed a repair after a start: " + n);

   std::map<uint32_t, int> recorded;  // handle -> records naming it
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
   std::set<Key> present;
   std::size_t entries = 0;
   c->forEachEntry([&](chip::EntryView const& e) {
      ++entries;
      auto const r = recorded.find(e.handle);
      int const records = r == recorded.end() ? 0 : r->second;
      if (records != 1) {
         fail("chip entry " + std::to_string(e.handle) + " has " + std::to_string(records) +
              " key records");
      }
      Key const k{e.key.dip, e.key.sip, e.key.vrf};
      Action const a = Action::of(e.act);
      if (!present.insert(k).second) fail("two chip entries for " + keyText(k));
      if (auto fi = x.file.find(k); fi != x.file.end()) {
         auto const ch = x.fileChanges.find(k);
         bool const changed = ch != x.fileChanges.end() && ch->second.count(a);
         if (a != fi->second && (converged || !changed)) {
            fail(keyText(k) + " holds '" + a.columns() + "', the file says '" +
                 fi->second.columns() + "'");
         }
      } else if (auto li = x.loopKeys.find(k); li != x.loopKeys.end()) {
         if (!li->second && !x.loopUnsure.count(k)) fail(keyText(k) + " was deleted");
      } else {
         fail("chip entry for " + keyText(k) + ", which nobody asked for");
      }
   });
   if (kt->count() != entries) {
      fail(std::to_string(kt->count()) + " key records for " + std::to_string(entries) +
           " chip entries");
   }
   if (converged) {
      std::size_t missing = 0;
      for (auto const& [k, a] : x.file)
         missing += !present.count(k);
      if (missing) fail(std::to_string(missing) + " of the file's entries missing");
   }
   for (auto const& [k, there] : x.loopKeys) {
      if (there && !present.count(k) && !x.loopUnsure.count(k))
         fail("acknowledged " + keyText(k) + " is missing");
   }
   if (bad > 5) f.push_back(when + ": " + std::to_string(bad - 5) + " more failures");
   return entries;
}

// What a start said it reconciled: chip entries adopted, key records dropped.
std::string reconcileNote(std::string const& text) {
   long long adopted = 0, dropped = 0;
   if (std::size_t const at = text.find("start reconciled: "); at != std::string::npos) {
      std::sscanf(text.c_str() + at,
                  "start reconciled: %lld chip entr%*s without a key record adopted, %lld",
                  &adopted, &dropped);
   }
   return std::to_string(adopted) + " adopted, " + std::to_string(dropped) + " dropped";
}

// ---- the set/del loop beside the load ----

// Sets loop keys, changes file keys' actions and deletes loop keys it set, one twicenat
// process at a time, until stopped; records what was acknowledged. With `noWait` (one-shot
// runs) a process finding the folder's lock held gives up at once and the loop tries again,
// so the first start after a kill of the lock's holder is often one of the loop's.
class SetDelLoop {
 public:
   SetDelLoop(Trial& t, Expected& x, uint64_t seed, bool noWait)
       : t_(t), x_(x), rng_(seed), noWait_(noWait) {
      thread_ = std::thread([this] { body(); });
   }
   ~SetDelLoop() { stop(); }
   // Kills the process in flight, if any (it counts as unsure); false when there was none.
   bool killCurrent() {
      std::lock_guard<std::mutex> lock(m_);
      return current_ && ::kill(current_, SIGKILL) == 0;
   }
   // Lets the process in flight finish, then ends the loop.
   void stop() {
      stop_ = true;
      if (thread_.joinable()) thread_.join();
   }
   // From now on a request may fail: its agent or its process was killed.
   void killing() { killing_ = true; }
   std::string summary() const {
      return ", " + std::to_string(requests_) + " set/del" +
             (refused_ ? " (" + std::to_string(refused_) + " refused)" : "");
   }
   std::string const& failure() const { return failure_; }

 private:
   void body() {
      std::vector<Key> mine;
      for (uint32_t i = 0; !stop_; ++i) {
         Key k;
         std::optional<Action> a;
         if (i % 3 == 0) {
            k = {kLoopDst + i, kLoopSrc, 0};
            a = randomAction(rng_);
         } else if (i % 3 == 1) {
            k = x_.order[rng_() % x_.order.size()];
            do {
               a = randomAction(rng_);
            } while (*a == x_.file[k]);
         } else if (!mine.empty()) {
            k = mine[rng_() % mine.size()];
         } else {
            continue;
         }
         bool const del = !a;
         Args words;
         if (noWait_) words.push_back("--no-wait");
         words.insert(words.end(), {del ? "del" : "set", "--dst", dotted(k.dip), "--src",
                                    dotted(k.sip), "--vrf", std::to_string(k.vrf)});
         if (a) {
            Args const o = a->options();
            words.insert(words.end(), o.begin(), o.end());
         }
         // Recorded as unsure first: a kill of this process leaves it so.
         bool const loopKey = !x_.file.count(k);
         bool const wasUnsure = x_.loopUnsure.count(k);
         if (loopKey) {
            x_.loopUnsure.insert(k);
            x_.loopKeys.try_emplace(k, false);
         } else {
            x_.fileChanges[k].insert(*a);
         }
         auto p = t_.start("loop", words);
         {
            std::lock_guard<std::mutex> lock(m_);
            current_ = p->pid();
         }
         siginfo_t info{};
         ::waitid(P_PID, id_t(p->pid()), &info, WEXITED | WNOWAIT);
         {
            std::lock_guard<std::mutex> lock(m_);
            current_ = 0;
         }
         int const status = p->wait();
         if (noWait_ && status == 1 &&
             p->err().find("(--no-wait: not waiting)") != std::string::npos) {
            // Nothing done: the key stays as it was.
            ++refused_;
            if (loopKey && !wasUnsure) x_.loopUnsure.erase(k);
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
            continue;
         }
         ++requests_;
         if (status == 0 && loopKey) {
            x_.loopUnsure.erase(k);
            x_.loopKeys[k] = !del;
            if (del) {
               std::erase(mine, k);
            } else {
               mine.push_back(k);
            }
         } else if (status != 0 && !killing_ && failure_.empty()) {
            // Before any kill, every request must succeed.
            failure_ = std::string(del ? "del" : "set") + " of " + keyText(k) + " exited " +
                       std::to_string(status) + ": " + firstLine(p->err());
         }
      }
   }

   Trial& t_;
   Expected& x_;
   std::mt19937_64 rng_;
   bool noWait_;
   std::thread thread_;
   std::atomic<bool> stop_{false};
   std::mutex m_;
   pid_t current_ = 0;
   std::atomic<bool> killing_{false};
   int requests_ = 0, refused_ = 0;
   std::string failure_;
};

// ---- the trials ----

struct Timing {
   double load = 0;     // seconds a load of the file takes, unkilled
   double oneShot = 0;  // seconds a one-shot command takes over that many entries
};

class Runner {
 public:
   explicit Runner(Options const& o) : opt_(o), rng_(o.seed) {}

   // An unkilled run of `serve`'s mode, checked like a trial: its times place the kills.
   Timing calibrate(bool serve) {
      Timing tm;
      if (!trial("calibration", serve, false, tm, false))
         throw std::runtime_error("an unkilled run failed: nothing to measure kills by");
      return tm;
   }

   // One trial; true when every check passed. Unless `kill`, nothing is killed and `tm`
   // receives the times measured.
   bool trial(std::string const& name, bool serve, bool withLoop, Timing& tm, bool kill) {
      Trial t(opt_, opt_.work + "/" + std::to_string(++serial_));
      Expected x = writeLoadFile(t.path("load"), opt_.entries, rng_());
      Failures f;
      t.run("chip create", {"chip", "create", "--capacity", std::to_string(opt_.entries + 4096)},
            f);
      std::uniform_real_distribution<double> unit;
      double const fraction = 0.1 + 0.8 * unit(rng_);
      double const loopKillDelay = unit(rng_) * tm.oneShot;
      std::string note =
          kill ? " killed at " + std::to_string(int(fraction * 100 + 0.5)) + "%" : "";
      Clock::time_point const began = Clock::now();
      {
         std::unique_ptr<Process> agent = serve ? t.serve("serve", f) : nullptr;
         Clock::time_point const loadBegan = Clock::now();
         std::unique_ptr<Process> load = t.start("load", {"load", t.path("load")});
         std::unique_ptr<SetDelLoop> loop;
         if (withLoop) {
            // One-shot: the load first, so that the kill lands in it rather than in its wait
            // for the loop's process.
            for (int i = 0;
                 !serve && i < 2000 && !TwiceNatCli::stateLockBusy(t.state()) && !load->ended();
                 ++i)
               std::this_thread::sleep_for(std::chrono::milliseconds(1));
            loop = std::make_unique<SetDelLoop>(t, x, rng_(), !serve);
         }
         if (kill) {
            std::this_thread::sleep_until(loadBegan +
                                          std::chrono::duration_cast<Clock::duration>(
                                              std::chrono::duration<double>(fraction * tm.load)));
            Process& victim = serve ? *agent : *load;
            if (loop) loop->killing();
            bool const running = !victim.ended();
            victim.signal(SIGKILL);
            int const vs = victim.wait();
            if (running && vs != -SIGKILL) note += " (it exited " + std::to_string(vs) + " first)";
            if (!running) note += " (it had ended)";
         }
         int const ls = load->wait();
         if (!kill) tm.load = secondsSince(loadBegan);
         bool const expected = ls == 0 ||
                               (kill && serve &&
                                load->err().find("the agent went "
                                                 "away") != std::string::npos) ||
                               (kill && !serve && ls == -SIGKILL);
         if (!expected)
            f.push_back("load exited " + std::to_string(ls) + ": " + firstLine(load->err()));
         if (loop && !serve) {
            // The loop's next process starts over what the kill left: kill it too, at some
            // moment of its run.
            std::this_thread::sleep_for(std::chrono::duration<double>(loopKillDelay));
            note += std::string(loop->killCurrent() ? " + set/del process" : " + no set/del") +
                    " at " + std::to_string(int(loopKillDelay * 1000)) + " ms";
         }
         if (loop) {
            loop->stop();
            note += loop->summary();
            if (!loop->failure().empty()) f.push_back("before the kill: " + loop->failure());
         }
         if (agent && !kill) t.stop(*agent, f);
      }
      std::string const restart = restartAndCheck(t, x, serve, tm, kill, f);
      bool const ok = f.empty();
      std::printf("%s %s%s%s; restart: %s; %.1f s: %s\n", name.c_str(), serve ? "serve" : "oneshot",
                  withLoop ? "+loop" : "", note.c_str(), restart.c_str(), secondsSince(began),
                  ok ? "ok" : "FAILED");
      for (std::string const& l : f)
         std::printf("  %s\n", l.c_str());
      return ok;
   }

 private:
   // The next start after the kill, the checks on what it left, the load once more, and the
   // checks that it converged. Returns what the start reconciled.
   std::string restartAndCheck(Trial& t, Expected& x, bool serve, Timing& tm, bool kill,
                               Failures& f) {
      std::unique_ptr<Process> agent;
      std::string said;
      if (serve) {
         agent = t.serve("restart", f);
         if (!agent) return "no start";
      } else {
         Clock::time_point const began = Clock::now();
         said = t.run("restart", {"show", "--json"}, f);
         if (!kill) tm.oneShot = secondsSince(began);
         if (!f.empty()) return "no start";
      }
      std::size_t const entries = checkFiles(t, x, false, "after the restart", f);
      t.run("reload", {"load", t.path("load")}, f);
      checkFiles(t, x, true, "after the re-load", f);
      if (agent) said = t.stop(*agent, f);  // a serve's notes reach its file once it exits
      return std::to_string(entries) + " entries, " + reconcileNote(said);
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
   if (pid_t const p = ::fork(); p == 0) {
      ::setsid();
      for (int sig : {SIGINT, SIGTERM, SIGHUP})
         ::signal(sig, SIG_IGN);
      ::close(fds[1]);
      char c;
      while (::read(fds[0], &c, 1) < 0 && errno == EINTR) {
      }
      // The children die with the tool by signal; give them a moment to be gone.
      for (int i = 0; i < 20 && std::filesystem::exists(dir); ++i) {
         std::error_code ec;
         std::filesystem::remove_all(dir, ec);
         if (!ec) break;
         ::usleep(50000);
      }
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
   std::printf("kill test: %d trials of %d entries, mode %s, seed %llu, in %s\n", opt.trials,
               opt.entries, opt.mode.c_str(), (unsigned long long)opt.seed, opt.work.c_str());
   int passed = 0, run = 0;
   try {
      Runner runner(opt);
      bool const oneshot = opt.mode != "serve", serve = opt.mode != "oneshot";
      Timing one, srv;
      if (oneshot) one = runner.calibrate(false);
      if (serve) srv = runner.calibrate(true);
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
