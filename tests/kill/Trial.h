#pragma once
// One kill trial's machinery: its folder and the twicenat commands run in it, the load file it
// checks the table against (and what each key may hold after a kill), and the set/del loop
// that runs beside the load.
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <memory>
#include <mutex>
#include <random>
#include <set>
#include <sstream>
#include <thread>
#include <unordered_map>

#include "agent/cli/Args.h"
#include "agent/cli/EntrySpec.h"
#include "support/ChildProcess.h"

namespace killtest {

using Clock = std::chrono::steady_clock;
using TwiceNatCli::MatchKey;
using Args = std::vector<std::string>;
using Failures = std::vector<std::string>;
using Process = TwiceNatTest::ChildProcess;  // every child dies with the tool
template <class V>
using ByKey = std::unordered_map<MatchKey, V, TwiceNatCli::MatchKeyHash>;

inline std::string firstLine(std::string const& s) {
   return TwiceNatCli::cut(s.substr(0, s.find('\n')), 300);
}

// An action as a load line's columns: "onMiss", or "hit|ecmp KEY-ID RW-ID PROT FRAG TARGET".
inline std::string columnsOf(TwiceNatCli::ActionValues const& a) {
   std::string s(TwiceNatCli::actionName(a.kind));
   for (unsigned v : {unsigned(a.keyId), unsigned(a.rwId), unsigned(a.prot), unsigned(a.frag),
                      unsigned(a.target)})
      s += a.kind != TwiceNatCli::ActionKind::onMiss ? " " + std::to_string(v) : "";
   return s;
}

inline std::string randomAction(std::mt19937_64& rng) {
   return columnsOf({TwiceNatCli::ActionKind(rng() % 3), U16(rng()), U16(rng()), U8(rng()),
                     U8(rng() % 2), U16(rng())});
}

// The same action as a set command's options.
inline Args actionOptions(std::string const& action) {
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

inline Expected writeLoadFile(std::string const& path, int entries, uint64_t seed) {
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

}  // namespace killtest
