// kill -9 of real twicenat processes in the middle of a load (and of a set/del loop beside it),
// then a restart and the checks a user relies on: the start succeeds, the chip and the key
// table agree record for record, every entry holds what was asked of it, and running the load
// again converges on exactly the file. One line per trial, a summary, exit 0 iff all passed.
#include <fcntl.h>
#include <signal.h>
#include <sys/prctl.h>
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
#include <nlohmann/json.hpp>
#include <optional>
#include <random>
#include <regex>
#include <set>
#include <sstream>
#include <string>
#include <thread>
#include <tuple>
#include <vector>

#include "agent/KeyTable.h"
#include "agent/cli/StateLock.h"
#include "chip/Chip.h"

namespace {

using Clock = std::chrono::steady_clock;
using Args = std::vector<std::string>;

double secondsSince(Clock::time_point t) {
   return std::chrono::duration<double>(Clock::now() - t).count();
}

std::string slurp(std::string const& path) {
   std::ifstream in(path);
   return {std::istreambuf_iterator<char>(in), {}};
}

// ---- child processes: every one is registered until reaped, and killed when the tool ends ----

std::mutex gChildrenMutex;
std::set<pid_t> gChildren;

void killChildren() {
   std::lock_guard<std::mutex> lock(gChildrenMutex);
   for (pid_t p : gChildren)
      ::kill(p, SIGKILL);
}

// A stop by signal: no serve may outlive the tool. kill() is safe in a handler; the set is
// read without its lock because the process ends right after.
extern "C" void onFatalSignal(int sig) {
   for (pid_t p : gChildren)
      ::kill(p, SIGKILL);
   ::signal(sig, SIG_DFL);
   ::raise(sig);
}

class Process {
 public:
   // Runs `args` with stdin /dev/null and stdout, stderr to `out`, `err`.
   Process(Args const& args, std::string out, std::string err)
       : out_(std::move(out)), err_(std::move(err)) {
      std::vector<char*> argv;
      for (std::string const& s : args)
         argv.push_back(const_cast<char*>(s.c_str()));
      argv.push_back(nullptr);
      pid_t const parent = ::getpid();
      std::lock_guard<std::mutex> lock(gChildrenMutex);
      pid_ = ::fork();
      if (pid_ < 0) throw std::runtime_error("fork failed");
      if (pid_ == 0) {
         // Dies with the tool, however the tool ends.
         ::prctl(PR_SET_PDEATHSIG, SIGKILL);
         if (::getppid() != parent) ::_exit(126);
         int in = ::open("/dev/null", O_RDONLY);
         int o = ::open(out_.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
         int e = ::open(err_.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
         ::dup2(in, 0);
         ::dup2(o, 1);
         ::dup2(e, 2);
         ::execv(argv[0], argv.data());
         ::_exit(127);
      }
      gChildren.insert(pid_);
   }
   ~Process() {
      if (!done_) {
         kill();
         wait();
      }
   }
   Process(Process const&) = delete;
   Process& operator=(Process const&) = delete;

   pid_t pid() const { return pid_; }
   void kill() const {
      if (!done_) ::kill(pid_, SIGKILL);
   }
   // The exit status; -SIG when a signal ended it.
   int wait() {
      if (done_) return status_;
      int ws = 0;
      while (::waitpid(pid_, &ws, 0) < 0 && errno == EINTR) {
      }
      finish(ws);
      return status_;
   }
   // True once it ended (then wait() returns at once).
   bool ended() {
      if (done_) return true;
      int ws = 0;
      if (::waitpid(pid_, &ws, WNOHANG) != pid_) return false;
      finish(ws);
      return true;
   }
   std::string out() const { return slurp(out_); }
   std::string err() const { return slurp(err_); }

 private:
   void finish(int ws) {
      std::lock_guard<std::mutex> lock(gChildrenMutex);
      gChildren.erase(pid_);
      status_ = WIFEXITED(ws) ? WEXITSTATUS(ws) : -WTERMSIG(ws);
      done_ = true;
   }
   std::string out_, err_;
   pid_t pid_ = -1;
   bool done_ = false;
   int status_ = 0;
};

// ---- what the table should hold ----

struct Action {
   int kind = 0;  // 0 onMiss, 1 hit, 2 ecmp (the chip's numbering)
   unsigned keyId = 0, rwId = 0, prot = 0, frag = 0, target = 0;
   bool operator==(Action const&) const = default;
   bool operator<(Action const& o) const {
      return std::tie(kind, keyId, rwId, prot, frag, target) <
             std::tie(o.kind, o.keyId, o.rwId, o.prot, o.frag, o.target);
   }
   // As a load line or a set command writes it.
   std::string columns() const {
      static char const* const names[] = {"onMiss", "hit", "ecmp"};
      std::string s = names[kind];
      if (kind == 0) return s;
      for (unsigned v : {keyId, rwId, prot, frag, target})
         s += " " + std::to_string(v);
      return s;
   }
   Args options() const {
      static char const* const names[] = {"onMiss", "hit", "ecmp"};
      Args a{"--action", names[kind]};
      if (kind == 0) return a;
      a.insert(a.end(), {"--key-id", std::to_string(keyId), "--rw-id", std::to_string(rwId),
                         "--prot", std::to_string(prot), "--frag", std::to_string(frag),
                         kind == 1 ? "--next-hop" : "--ecmp-group", std::to_string(target)});
      return a;
   }
   static Action of(chip::ActionRec const& a) {
      Action r;
      r.kind = int(a.action);
      if (r.kind == 0) return r;
      r.keyId = a.params[0];
      r.rwId = a.params[1];
      r.prot = a.params[2];
      r.frag = a.params[3];
      r.target = a.params[4];
      return r;
   }
};

struct Key {
   uint32_t dip = 0, sip = 0;
   uint16_t vrf = 0;
   bool operator<(Key const& o) const {
      return std::tie(dip, sip, vrf) < std::tie(o.dip, o.sip, o.vrf);
   }
};

std::string dotted(uint32_t a) {
   return std::to_string(a >> 24) + "." + std::to_string((a >> 16) & 255) + "." +
          std::to_string((a >> 8) & 255) + "." + std::to_string(a & 255);
}

std::string keyText(Key const& k) {
   return dotted(k.dip) + " " + dotted(k.sip) + " vrf " + std::to_string(k.vrf);
}

Action randomAction(std::mt19937_64& rng) {
   Action a;
   a.kind = int(rng() % 3);
   if (a.kind == 0) return a;
   a.keyId = unsigned(rng() % 65536);
   a.rwId = unsigned(rng() % 65536);
   a.prot = unsigned(rng() % 256);
   a.frag = unsigned(rng() % 2);
   a.target = unsigned(rng() % 65536);
   return a;
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

// ---- options ----

struct Options {
   std::string twicenat = TWICENAT_BIN_DIR "/twicenat";
   int trials = 10;
   int entries = 20000;
   std::string mode = "both";
   uint64_t seed = 0;
   bool seedGiven = false;
   std::string work;
   bool keepFailed = false;
};

[[noreturn]] void usage(std::string const& why) {
   std::cerr << "twicenat_killtest: " << why << "\n"
             << "usage: twicenat_killtest [--twicenat PATH] [--trials N] [--entries M]\n"
             << "         [--mode oneshot|serve|both] [--seed S] [--work DIR] [--keep-failed]\n"
             << "Kills twicenat with SIGKILL at random moments of a load of M entries (odd\n"
             << "trials with a set/del loop beside it), restarts it and checks the state.\n";
   std::exit(2);
}

long long numberArg(std::string const& name, std::string const& v, long long min, long long max) {
   char* end = nullptr;
   errno = 0;
   long long const n = std::strtoll(v.c_str(), &end, 10);
   if (v.empty() || *end || errno || n < min || n > max) {
      usage(name + " needs a number from " + std::to_string(min) + " to " + std::to_string(max) +
            ", not '" + v + "'");
   }
   return n;
}

Options parseOptions(int argc, char** argv) {
   Options o;
   for (int i = 1; i < argc; ++i) {
      std::string const a = argv[i];
      if (a == "--help" || a == "-h") usage("kill -9 trials of twicenat");
      if (a == "--keep-failed") {
         o.keepFailed = true;
         continue;
      }
      if (i + 1 >= argc) usage(a + " needs a value");
      std::string const v = argv[++i];
      if (a == "--twicenat") {
         o.twicenat = v;
      } else if (a == "--trials") {
         o.trials = int(numberArg(a, v, 1, 100000));
      } else if (a == "--entries") {
         o.entries = int(numberArg(a, v, 1, 4000000));
      } else if (a == "--mode") {
         if (v != "oneshot" && v != "serve" && v != "both")
            usage("--mode is oneshot, serve or both");
         o.mode = v;
      } else if (a == "--seed") {
         o.seed = uint64_t(numberArg(a, v, 0, (1LL << 62)));
         o.seedGiven = true;
      } else if (a == "--work") {
         o.work = v;
      } else {
         usage("unknown option " + a);
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
   std::string state() const { return dir_ + "/state"; }
   std::string path(std::string const& name) const { return dir_ + "/" + name; }

   Args argv(Args const& words) const {
      Args a{opt_.twicenat, "--state", state()};
      a.insert(a.end(), words.begin(), words.end());
      return a;
   }
   // A process of its own; its output in files named after `tag` and a serial number.
   std::unique_ptr<Process> start(std::string const& tag, Args const& words) {
      std::string const n = tag + "." + std::to_string(serial_++);
      return std::make_unique<Process>(argv(words), path(n + ".out"), path(n + ".err"));
   }
   struct Result {
      int status;
      std::string out, err;
   };
   Result run(std::string const& tag, Args const& words) {
      auto p = start(tag, words);
      int const s = p->wait();
      return {s, p->out(), p->err()};
   }

 private:
   Options const& opt_;
   std::string dir_;
   std::atomic<int> serial_{0};
};

std::string firstLine(std::string const& s) {
   std::string const t = s.substr(0, s.find('\n'));
   return t.size() > 300 ? t.substr(0, 300) + "..." : t;
}

// Failures of one trial, each a line.
struct Failures {
   std::vector<std::string> lines;
   void add(std::string const& l) { lines.push_back(l); }
   bool any() const { return !lines.empty(); }
};

// The chip and the key table, opened read-only in this process: the two agree record for
// record, and each entry holds what the file or the loop asked. With `converged`, the table
// holds exactly the file's entries plus the loop's own.
void checkFiles(Trial const& t, Expected const& x, bool converged, std::string const& when,
                Failures& f) {
   std::unique_ptr<chip::Chip> c;
   std::unique_ptr<TwiceNatAgent::KeyTable> kt;
   try {
      c = chip::Chip::open(t.state() + "/chip", chip::ChipAccess::readOnly);
      kt = TwiceNatAgent::KeyTable::open(t.state() + "/keys",
                                         TwiceNatAgent::KeyTableAccess::readOnly);
   } catch (std::exception const& e) {
      f.add(when + ": state files do not open: " + e.what());
      return;
   }
   for (std::string const& n : c->openNotes())
      f.add(when + ": chip file needed a repair after a start: " + n);
   for (std::string const& n : kt->openNotes())
      f.add(when + ": key table needed a repair after a start: " + n);

   std::map<uint32_t, int> recorded;  // handle -> records naming it
   for (U64 slot = kt->nextTakenSlot(0); slot < kt->capacity();
        slot = kt->nextTakenSlot(slot + 1)) {
      if (kt->slotState(slot) != TwiceNatAgent::KeyTable::SlotState::used) {
         f.add(when + ": key table slot " + std::to_string(slot) + " is damaged");
         continue;
      }
      auto const rec = kt->record(slot + 1);
      chip::EntryView view;
      if (c->entryGet(rec.sdkEntryHandle, &view) != chip::status::kOk) {
         f.add(when + ": key " + std::to_string(rec.key) + " names handle " +
               std::to_string(rec.sdkEntryHandle) + ", which the chip does not hold");
      }
      ++recorded[rec.sdkEntryHandle];
   }
   std::set<Key> present;
   std::size_t entries = 0, bad = 0;
   auto badEntry = [&](std::string const& l) {
      if (++bad <= 5) f.add(when + ": " + l);
   };
   c->forEachEntry([&](chip::EntryView const& e) {
      ++entries;
      auto const r = recorded.find(e.handle);
      if (r == recorded.end()) {
         badEntry("chip entry " + std::to_string(e.handle) + " has no key record");
      } else if (r->second != 1) {
         badEntry("chip entry " + std::to_string(e.handle) + " has " + std::to_string(r->second) +
                  " key records");
      }
      Key const k{e.key.dip, e.key.sip, e.key.vrf};
      Action const a = Action::of(e.act);
      if (!present.insert(k).second) badEntry("two chip entries for " + keyText(k));
      if (auto fi = x.file.find(k); fi != x.file.end()) {
         auto const ch = x.fileChanges.find(k);
         bool const changed = ch != x.fileChanges.end() && ch->second.count(a);
         if (!(a == fi->second) && (converged || !changed)) {
            badEntry(keyText(k) + " holds '" + a.columns() + "', the file says '" +
                     fi->second.columns() + "'");
         }
      } else if (auto li = x.loopKeys.find(k); li != x.loopKeys.end()) {
         if (!li->second && !x.loopUnsure.count(k)) badEntry(keyText(k) + " was deleted");
      } else {
         badEntry("chip entry for " + keyText(k) + ", which nobody asked for");
      }
   });
   if (bad > 5) f.add(when + ": " + std::to_string(bad - 5) + " more bad entries");
   if (kt->count() != entries) {
      f.add(when + ": " + std::to_string(kt->count()) + " key records for " +
            std::to_string(entries) + " chip entries");
   }
   std::size_t missing = 0;
   if (converged) {
      for (auto const& [k, a] : x.file)
         missing += !present.count(k);
      if (missing) f.add(when + ": " + std::to_string(missing) + " of the file's entries missing");
   }
   for (auto const& [k, there] : x.loopKeys) {
      if (there && !present.count(k) && !x.loopUnsure.count(k))
         f.add(when + ": acknowledged " + keyText(k) + " is missing");
   }
}

// What 'chip show --json' says of the two files; the chip's entry count, -1 when unknown.
long long checkChipShow(Trial& t, std::string const& when, Failures& f) {
   Trial::Result const r = t.run("chipshow", {"chip", "show", "--json"});
   if (r.status != 0) {
      f.add(when + ": chip show exited " + std::to_string(r.status) + ": " + firstLine(r.err));
      return -1;
   }
   try {
      nlohmann::json const j = nlohmann::json::parse(r.out);
      if (j["orphanEntries"] != 0) f.add(when + ": orphanEntries " + j["orphanEntries"].dump());
      if (j["staleRecords"] != 0) f.add(when + ": staleRecords " + j["staleRecords"].dump());
      if (j["entries"] != j["keyTable"]["records"]) {
         f.add(when + ": chip show counts " + j["entries"].dump() + " entries and " +
               j["keyTable"]["records"].dump() + " records");
      }
      return j["entries"].get<long long>();
   } catch (std::exception const& e) {
      f.add(when + ": chip show --json printed no JSON: " + e.what());
      return -1;
   }
}

// What the start after a kill said it settled: its reconcile line and its other notes.
struct Restart {
   long long adopted = 0, dropped = 0, repairs = 0, entries = -1;
   std::string text() const {
      return std::to_string(entries) + " entries, " + std::to_string(adopted) + " adopted, " +
             std::to_string(dropped) + " dropped, " + std::to_string(repairs) + " repairs";
   }
};

// `text`: a one-shot start's standard error (its notes begin "twicenat: "), or a serve's
// standard output (its notes follow the ready line; a stop line ends it).
Restart restartNotes(std::string const& text, bool serve) {
   Restart r;
   std::istringstream in(text);
   std::smatch m;
   static std::regex const line(
       R"(start reconciled: (\d+) chip entr\S+ without a key record adopted, (\d+) key)");
   for (std::string l; std::getline(in, l);) {
      if (std::regex_search(l, m, line)) {
         r.adopted = std::stoll(m[1]);
         r.dropped = std::stoll(m[2]);
      } else if (serve ? l.rfind("agent pid ", 0) != 0 && !l.empty()
                       : l.rfind("twicenat: ", 0) == 0) {
         ++r.repairs;
      }
   }
   return r;
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
   int requests() const { return requests_; }
   int refused() const { return refused_; }
   std::string const& failure() const { return failure_; }

 private:
   void body() {
      std::vector<Key> mine;
      for (uint32_t i = 0; !stop_; ++i) {
         Args words;
         Key k;
         std::optional<Action> a;
         bool del = false;
         switch (i % 3) {
            case 0:
               k = {kLoopDst + i, kLoopSrc, 0};
               a = randomAction(rng_);
               break;
            case 1:
               k = x_.order[rng_() % x_.order.size()];
               do {
                  a = randomAction(rng_);
               } while (*a == x_.file[k]);
               break;
            default:
               if (mine.empty()) continue;
               k = mine[rng_() % mine.size()];
               del = true;
         }
         if (noWait_) words.push_back("--no-wait");
         words.insert(words.end(), {del ? "del" : "set", "--dst", dotted(k.dip), "--src",
                                    dotted(k.sip), "--vrf", std::to_string(k.vrf)});
         if (a) {
            Args const o = a->options();
            words.insert(words.end(), o.begin(), o.end());
         }
         // Recorded as unsure first: a kill of this process leaves it so.
         bool const loopKey = !x_.file.count(k);
         if (loopKey) {
            x_.loopUnsure.insert(k);
            if (!x_.loopKeys.count(k)) x_.loopKeys[k] = false;
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
            if (loopKey && x_.loopKeys[k] == false && !del) x_.loopUnsure.erase(k);
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
            continue;
         }
         ++requests_;
         if (status == 0) {
            if (loopKey) {
               x_.loopUnsure.erase(k);
               x_.loopKeys[k] = !del;
               if (!del) {
                  mine.push_back(k);
               } else {
                  std::erase_if(mine, [&](Key const& m) { return !(m < k) && !(k < m); });
               }
            }
         } else if (!killing_ && failure_.empty()) {
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

// Waits for a serve's ready line; false when it ends first or takes over two minutes.
bool awaitReady(Process& serve) {
   Clock::time_point const t = Clock::now();
   while (secondsSince(t) < 120) {
      if (serve.out().find(" entries resynced in ") != std::string::npos) return true;
      if (serve.ended()) return false;
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
   }
   return false;
}

struct Timing {
   double load = 0;  // seconds a load of the file takes, unkilled
   double set = 0;   // seconds a one-shot set takes over that many entries
};

class Runner {
 public:
   explicit Runner(Options const& o) : opt_(o), rng_(o.seed) {}

   // An unkilled run of each mode's load, to place the kills; its result checked too.
   Timing calibrate(bool serve) {
      Trial t(opt_, opt_.work + "/calibrate-" + (serve ? "serve" : "oneshot"));
      Expected const x = writeLoadFile(t.path("load"), opt_.entries, rng_());
      Failures f;
      Timing tm;
      createChip(t, f);
      std::unique_ptr<Process> agent;
      if (serve) {
         agent = t.start("serve", {"serve"});
         if (!awaitReady(*agent)) f.add("serve did not become ready: " + firstLine(agent->err()));
      }
      Clock::time_point const began = Clock::now();
      Trial::Result const r = t.run("load", {"load", t.path("load")});
      tm.load = secondsSince(began);
      if (r.status != 0)
         f.add("unkilled load exited " + std::to_string(r.status) + ": " + firstLine(r.err));
      if (agent) {
         t.run("stop", {"stop"});
         agent->wait();
      }
      Clock::time_point const setBegan = Clock::now();
      Key const& k = x.order.front();
      Args words{"set",         "--dst", dotted(k.dip),        "--src",
                 dotted(k.sip), "--vrf", std::to_string(k.vrf)};
      Args const a = x.file.at(k).options();
      words.insert(words.end(), a.begin(), a.end());
      Trial::Result const s = t.run("set", words);
      tm.set = secondsSince(setBegan);
      if (s.status != 0)
         f.add("one-shot set exited " + std::to_string(s.status) + ": " + firstLine(s.err));
      checkFiles(t, x, true, "unkilled", f);
      std::printf("calibration %s: load of %d entries %.2f s, one-shot set %.2f s%s\n",
                  serve ? "serve" : "oneshot", opt_.entries, tm.load, tm.set,
                  f.any() ? " FAILED" : "");
      for (std::string const& l : f.lines)
         std::printf("  %s\n", l.c_str());
      if (f.any()) throw std::runtime_error("an unkilled run failed: nothing to measure kills by");
      std::filesystem::remove_all(opt_.work + "/calibrate-" +
                                  std::string(serve ? "serve" : "oneshot"));
      return tm;
   }

   // Summed over the trials' restarts.
   Restart totals;

   // One trial; true when every check passed.
   bool trial(int n, bool serve, bool withLoop, Timing const& tm) {
      std::string const dir = opt_.work + "/trial-" + std::to_string(n);
      Trial t(opt_, dir);
      Expected x = writeLoadFile(t.path("load"), opt_.entries, rng_());
      Failures f;
      createChip(t, f);
      double const fraction = 0.1 + 0.8 * std::uniform_real_distribution<double>()(rng_);
      double const loopKillDelay = std::uniform_real_distribution<double>()(rng_) * tm.set;
      std::string note;
      Clock::time_point const began = Clock::now();
      {
         std::unique_ptr<Process> agent;
         if (serve) {
            agent = t.start("serve", {"serve"});
            if (!awaitReady(*agent))
               f.add("serve did not become ready: " + firstLine(agent->err()));
         }
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
         std::this_thread::sleep_until(loadBegan +
                                       std::chrono::duration_cast<Clock::duration>(
                                           std::chrono::duration<double>(fraction * tm.load)));
         Process& victim = serve ? *agent : *load;
         if (loop) loop->killing();
         bool const before = !victim.ended();
         victim.kill();
         int const vs = victim.wait();
         if (before && vs != -SIGKILL) note += " (it exited " + std::to_string(vs) + " first)";
         if (!before) note += " (it had ended)";
         int const ls = load->wait();
         if (serve && ls != 0 && load->err().find("the agent went away") == std::string::npos) {
            f.add("client load exited " + std::to_string(ls) + ": " + firstLine(load->err()));
         }
         if (!serve && before && ls != -SIGKILL && ls != 0)
            f.add("load exited " + std::to_string(ls) + ": " + firstLine(load->err()));
         if (loop) {
            if (!serve) {
               // The loop's next process starts over what the kill left: kill it too, at
               // some moment of its run.
               std::this_thread::sleep_for(std::chrono::duration<double>(loopKillDelay));
               bool const hit = loop->killCurrent();
               note += std::string(hit ? " + set/del process" : " + no set/del process") + " at " +
                       std::to_string(int(loopKillDelay * 1000)) + " ms";
            }
            loop->stop();
            note += ", " + std::to_string(loop->requests()) + " set/del";
            if (loop->refused()) note += " (" + std::to_string(loop->refused()) + " refused)";
            if (!loop->failure().empty()) f.add("before the kill: " + loop->failure());
         }
      }
      Restart const found = restartAndCheck(t, x, serve, f);
      totals.adopted += found.adopted;
      totals.dropped += found.dropped;
      totals.repairs += found.repairs;
      bool const ok = !f.any();
      std::printf("trial %d %s%s killed at %d%%%s; restart: %s; %.1f s: %s\n", n,
                  serve ? "serve" : "oneshot", withLoop ? "+loop" : "", int(fraction * 100 + 0.5),
                  note.c_str(), found.text().c_str(), secondsSince(began), ok ? "ok" : "FAILED");
      for (std::string const& l : f.lines)
         std::printf("  %s\n", l.c_str());
      std::fflush(stdout);
      if (ok || !opt_.keepFailed) {
         std::filesystem::remove_all(dir);
      } else {
         std::printf("  kept %s\n", dir.c_str());
      }
      return ok;
   }

 private:
   void createChip(Trial& t, Failures& f) {
      Trial::Result const r =
          t.run("create", {"chip", "create", "--capacity", std::to_string(opt_.entries + 4096)});
      if (r.status != 0)
         f.add("chip create exited " + std::to_string(r.status) + ": " + firstLine(r.err));
   }

   // The next start after the kill, the checks on what it left, the load once more, and the
   // checks that it converged.
   Restart restartAndCheck(Trial& t, Expected& x, bool serve, Failures& f) {
      std::unique_ptr<Process> agent;
      Restart found;
      if (serve) {
         agent = t.start("restart", {"serve"});
         if (!awaitReady(*agent)) {
            f.add("restart: serve did not become ready: " + firstLine(agent->err()));
            return found;
         }
      } else {
         Trial::Result const r = t.run("restart", {"show", "--json"});
         if (r.status != 0) {
            f.add("restart: show exited " + std::to_string(r.status) + ": " + firstLine(r.err));
            return found;
         }
         found = restartNotes(r.err, false);
      }
      long long const entries = checkChipShow(t, "after the restart", f);
      checkFiles(t, x, false, "after the restart", f);
      Trial::Result const r = t.run("reload", {"load", t.path("load")});
      if (r.status != 0) {
         f.add("re-run of the load exited " + std::to_string(r.status) + ": " + firstLine(r.err));
      }
      checkChipShow(t, "after the re-load", f);
      checkFiles(t, x, true, "after the re-load", f);
      if (agent) {
         Trial::Result const s = t.run("stop", {"stop"});
         int const st = agent->wait();
         if (s.status != 0 || st != 0) {
            f.add("stop exited " + std::to_string(s.status) + ", serve " + std::to_string(st) +
                  ": " + firstLine(s.err + agent->err()));
         }
         // Its notes reach the file once it exits.
         found = restartNotes(agent->out(), true);
      }
      found.entries = entries;
      return found;
   }

   Options const& opt_;
   std::mt19937_64 rng_;
};

// A process of its own that removes `dir` once the tool is gone, however it went (a kill -9
// of the tool too), unless the tool said to keep it. Its children die with it (they are
// set to), so nothing writes into the folder afterwards. Returns the pipe's write end; one
// byte written to it means "keep".
int removeWhenGone(std::string const& dir) {
   int fds[2];
   if (::pipe(fds) != 0) return -1;
   pid_t const p = ::fork();
   if (p < 0) {
      ::close(fds[0]);
      ::close(fds[1]);
      return -1;
   }
   if (p == 0) {
      ::setsid();
      for (int sig : {SIGINT, SIGTERM, SIGHUP})
         ::signal(sig, SIG_IGN);
      ::close(fds[1]);
      char keep = 0;
      ssize_t n;
      while ((n = ::read(fds[0], &keep, 1)) < 0 && errno == EINTR) {
      }
      if (n <= 0) {
         // The children die with the tool by signal; give them a moment to be gone.
         for (int i = 0; i < 20 && std::filesystem::exists(dir); ++i) {
            std::error_code ec;
            std::filesystem::remove_all(dir, ec);
            if (!ec) break;
            ::usleep(50000);
         }
      }
      ::_exit(0);
   }
   ::close(fds[0]);
   ::fcntl(fds[1], F_SETFD, FD_CLOEXEC);
   return fds[1];
}

}  // namespace

int main(int argc, char** argv) {
   Options opt = parseOptions(argc, argv);
   std::setvbuf(stdout, nullptr, _IOLBF, 0);  // a line per trial as it ends
   if (!opt.seedGiven) opt.seed = std::random_device()();
   bool madeWork = false;
   if (opt.work.empty()) {
      char const* tmp = std::getenv("TMPDIR");
      opt.work = std::string(tmp && *tmp ? tmp : "/tmp") + "/twicenat-kill-XXXXXX";
      if (!::mkdtemp(opt.work.data())) {
         std::cerr << "twicenat_killtest: cannot make a folder " << opt.work << "\n";
         return 2;
      }
      madeWork = true;
   } else {
      std::filesystem::create_directories(opt.work);
   }
   int const watchdog = madeWork ? removeWhenGone(opt.work) : -1;
   for (int sig : {SIGINT, SIGTERM, SIGHUP})
      ::signal(sig, onFatalSignal);
   std::atexit(killChildren);

   std::printf("kill test: %d trials of %d entries, mode %s, seed %llu, in %s\n", opt.trials,
               opt.entries, opt.mode.c_str(), (unsigned long long)opt.seed, opt.work.c_str());
   int passed = 0, run = 0;
   int status = 0;
   Restart totals;
   try {
      Runner runner(opt);
      bool const oneshot = opt.mode != "serve", serve = opt.mode != "oneshot";
      Timing one, srv;
      if (oneshot) one = runner.calibrate(false);
      if (serve) srv = runner.calibrate(true);
      for (int n = 1; n <= opt.trials; ++n) {
         // Both: alternate modes; the loop joins every other trial of each mode.
         bool const isServe = serve && (!oneshot || n % 2 == 0);
         bool const withLoop = oneshot && serve ? ((n + 1) / 2) % 2 == 0 : n % 2 == 0;
         ++run;
         passed += runner.trial(n, isServe, withLoop, isServe ? srv : one);
      }
      totals = runner.totals;
      status = passed == run ? 0 : 1;
   } catch (std::exception const& e) {
      std::printf("kill test stopped: %s\n", e.what());
      status = 1;
   }
   killChildren();
   std::printf(
       "%d of %d trials passed (seed %llu); restarts adopted %lld, dropped %lld, "
       "repaired %lld\n",
       passed, run, (unsigned long long)opt.seed, totals.adopted, totals.dropped, totals.repairs);
   if (madeWork && (status == 0 || !opt.keepFailed)) {
      std::error_code ec;
      std::filesystem::remove_all(opt.work, ec);
   } else if (watchdog >= 0) {
      (void)!::write(watchdog, "k", 1);
      std::printf("kept %s\n", opt.work.c_str());
   }
   return status;
}
