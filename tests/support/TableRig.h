#pragma once
// A table made by the agent's creation function over a simulated chip attached as a device, with
// the agent's key and status managers behind recording wrappers whose calls are placed among the
// SDK calls of the chip's journal; and what tests of both back ends compare: entries, thrown
// exceptions and the texts of the checks that stop the process.
#include <dlfcn.h>
#include <gtest/gtest.h>

#include <functional>
#include <map>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "BfTwiceNatAddrOnly/entry/TwiceNatAddrOnlyTableEntryText.h"
#include "BfTwiceNatAddrOnly/table/Diagnostics.h"
#include "BfTwiceNatAddrOnly/table/TableExceptions.h"
#include "BfTwiceNatAddrOnly/table/TwiceNatAddrOnlyTableFactory.h"
#include "agent/KeyManager.h"
#include "agent/StatusManager.h"
#include "chip/Chip.h"
#include "chip/Devices.h"
#include "chip/Journal.h"
#include "support/Scratch.h"

namespace tabletest {

using namespace BfTwiceNatAddrOnly;
using BfPdTwiceNatAddrOnly::Hdl;
using Match = TwiceNatAddrOnlyMatchSpec::Ptr;
using MatchC = TwiceNatAddrOnlyMatchSpec::PtrConst;
using Action = TwiceNatAddrOnlyBaseActionSpec::Ptr;
using MatchBase = BfnTable::MatchSpecBase::PtrConst;
using V = std::vector<std::string>;

constexpr U8 kDev = 5;
constexpr U32 kSess = 41;
constexpr U16 kAll = 0xFFFF;
inline char const* const kSdkPath = TWICENAT_LIB_DIR "/libtwicenat_sdk.so";
inline chip::Profile const kPdChip{.bfrt = false};

// The SDK library, loaded once the way the agent loads it.
inline void* sdkHandle() {
   static void* const dl = ::dlopen(kSdkPath, RTLD_NOW);
   return dl;
}

using TwiceNatTest::scratchPath;

inline TwiceNatAddrOnlyTableEntry entryOf(MatchC const& m, Action const& a) {
   TwiceNatAddrOnlyTableEntry e(m);
   e.actionIs(a);
   return e;
}

// Service calls with the journal length at each; matches appear by the names tests give them.
struct ServiceLog {
   std::vector<std::pair<std::size_t, std::string>> events;
   std::map<void const*, std::string> names;
   void add(std::string op, BfnTable::MatchSpecBase const* m = nullptr, bool named = true) {
      auto it = names.find(m);
      if (named) (op += " ") += !m ? "null" : it == names.end() ? "new" : it->second;
      events.emplace_back(chip::journal().size(), std::move(op));
   }
};

class RecordingKeyManager : public MbbDroskKey::DroskKeyManager {
 public:
   RecordingKeyManager(TwiceNatAgent::KeyManager::Ptr real, ServiceLog& log)
       : real_(std::move(real)), log_(log) {}
   Drosk::MbbDroskTableConfig* mbbDroskTableConfig() const override {
      return real_->mbbDroskTableConfig();
   }
   EntryKey alloc(MatchBase const& m, bool flag) override {
      EntryKey k = real_->alloc(m, flag);
      log_.add((flag ? "alloc(true) " : "alloc ") + std::to_string(k), m.ptr());
      return k;
   }
   void free(EntryKey k) override {
      log_.add("free " + std::to_string(k), {}, false), real_->free(k);
   }
   void populate(EntryKey const& k, MatchBase const& m) override {
      log_.add("populate " + std::to_string(k), m.ptr()), real_->populate(k, m);
   }
   EntryKey highestKey() const override { return real_->highestKey(); }
   void highestKeyIs(EntryKey k) override {
      log_.add("highestKeyIs " + std::to_string(k), {}, false), real_->highestKeyIs(k);
   }
   ZIN_ALLOCATED(RecordingKeyManager)

 private:
   TwiceNatAgent::KeyManager::Ptr real_;
   ServiceLog& log_;
};

class RecordingStatusManager : public BfnTableStatusManager::StatusManager {
 public:
   RecordingStatusManager(TwiceNatAgent::StatusManager::Ptr real, ServiceLog& log)
       : real_(std::move(real)), log_(log) {}
   void initStatus(MatchBase const& m) override {
      log_.add("initStatus", m.ptr()), real_->initStatus(m);
   }
   void resyncStatus() override { log_.add("resyncStatus", {}, false), real_->resyncStatus(); }
   ZIN_ALLOCATED(RecordingStatusManager)

 private:
   TwiceNatAgent::StatusManager::Ptr real_;
   ServiceLog& log_;
};

struct Options {
   chip::Profile profile = {};
   U16 pipe = kAll;
   bool services = true;
   std::string chipPath = {};  // a chip file to open instead of a new private chip
   std::string keyPath = {};   // a key table file to open instead of a new scratch one
   bool createTable = true;
};

class Rig {
   // Declared first so that it runs last, also when the creation throws. (Files go with the
   // scratch folder.)
   struct Cleanup {
      ~Cleanup() { chip::faultsClear(), chip::journalEnabledIs(false), chip::journalClear(); }
   } cleanup_;

 public:
   explicit Rig(Options o = {}) : opts(std::move(o)) {
      if (opts.keyPath.empty()) opts.keyPath = scratchPath("keys");
      chip = opts.chipPath.empty() ? chip::Chip::createPrivate(opts.profile)
                                   : chip::Chip::open(opts.chipPath);
      chip::attach(kDev, *chip);
      keys = TwiceNatAgent::KeyManager::keyManagerIs(
          TwiceNatAgent::KeyTable::openOrCreate(opts.keyPath, 64));
      statuses = TwiceNatAgent::StatusManager::statusManagerIs(keys);
      if (opts.services) {
         km = new RecordingKeyManager(keys, log);
         sm = new RecordingStatusManager(statuses, log);
      }
      chip::journalClear();
      chip::journalEnabledIs(true);
      if (opts.createTable) create();
   }

   void create() {
      table = twiceNatAddrOnlyTableFactory(km, sm, sdkHandle(), kSess, kDev, opts.pipe, kSdkPath);
      name(table->defaultMatchSpec(), "dflt");
   }
   void name(MatchC const& m, std::string n) { log.names[m.ptr()] = std::move(n); }
   TwiceNatAddrOnlyTableHandles& handles() const { return *table->helper()->sdkHandles(); }
   MatchC dflt() const { return table->defaultMatchSpec(); }
   void program(MatchC const& m, Action const& a) const { table->entryIs(entryOf(m, a)); }
   void mark() { chip::journalClear(), log.events.clear(); }
   // The service calls alone, in order.
   V ops() const {
      V out;
      for (auto const& e : log.events)
         out.push_back(e.second);
      return out;
   }
   // SDK calls and service calls since the last mark, in order.
   V timeline() const {
      V out;
      auto ev = log.events.begin();
      auto const& calls = chip::journal();
      for (std::size_t i = 0; i <= calls.size(); ++i) {
         for (; ev != log.events.end() && ev->first == i; ++ev)
            out.push_back(ev->second);
         if (i < calls.size()) out.push_back(calls[i].toString());
      }
      return out;
   }
   V timelineOf(std::function<void()> const& op) {
      mark();
      op();
      return timeline();
   }

   Options opts;
   std::unique_ptr<chip::Chip> chip;
   TwiceNatAgent::KeyManager::Ptr keys;
   TwiceNatAgent::StatusManager::Ptr statuses;
   ServiceLog log;
   Pemra::Ptr<RecordingKeyManager> km;
   Pemra::Ptr<RecordingStatusManager> sm;
   TwiceNatAddrOnlyTable::Ptr table;
};

// A chip file and a key table file in the scratch folder, for tables of later processes or objects
// to open.
struct Files {
   explicit Files(chip::Profile const& profile, U64 capacity = 64)
       : chip(scratchPath("chip")), keys(scratchPath("keys")) {
      chip::Chip::create(chip, profile);
      TwiceNatAgent::KeyTable::create(keys, capacity);
   }
   Options over(bool createTable = true) const {
      return {.chipPath = chip, .keyPath = keys, .createTable = createTable};
   }
   std::string chip, keys;
};

// The PD function of `suffix`, and the suffixes of the three actions.
inline std::string pd(std::string const& suffix) {
   return "p4_pd_tolvex_switch_twiceNatAddrOnly_" + suffix;
}
inline char const* const kSuffix[] = {"onMiss", "twiceNatAddrOnlyHit", "twiceNatAddrOnlyHitEcmp"};

// "name(a, b) = status", as the journal writes a call.
inline std::string call(std::string name, std::vector<U64> args, I32 status = 0) {
   return chip::JournalCall{std::move(name), std::move(args), status}.toString();
}

inline Match matchOf(U32 dip, U32 sip, int vrf = -1) {
   Match m = twiceNatAddrOnlyMatchSpecFactory();
   m->outerIpv4HdrDipIs(dip);
   m->outerIpv4HdrSipIs(sip);
   if (vrf >= 0) m->l3InfoVrfIdIs(U16(vrf));
   return m;
}

// keyId, rwId, prot, frag, then next hop or ECMP group (set by name: one field, two classes).
inline Action actionOf(TwiceNatAddrOnlyActionSpecType type, U16 k = 0, U16 r = 0, U8 p = 0,
                       U8 f = 0, U16 last = 0) {
   if (type == onMissActionSpec) return onMissActionSpecFactory();  // it carries no parameters
   bool const hit = type == twiceNatAddrOnlyHitActionSpec;
   Action a = hit ? Action(twiceNatAddrOnlyHitActionSpecFactory())
                  : Action(twiceNatAddrOnlyHitEcmpActionSpecFactory());
   a->keyIdIs(k), a->rwIdIs(r), a->protIs(p), a->fragIs(f);
   Zin::attributeIs(*a, hit ? "nextHop" : "ecmpGroup", Zin::Value::number(last));
   return a;
}
inline TwiceNatAddrOnlyActionSpecType actionType(unsigned t) {
   return static_cast<TwiceNatAddrOnlyActionSpecType>(t % 3);
}

// The parameters an action passes to the SDK, none for the miss action.
inline std::vector<U64> actionArgs(TwiceNatAddrOnlyBaseActionSpec const& a) {
   if (a.actionType() == onMissActionSpec) return {};
   char const* last = a.actionType() == twiceNatAddrOnlyHitActionSpec ? "nextHop" : "ecmpGroup";
   return {a.keyId(), a.rwId(), a.prot(), a.frag(), Zin::attribute(a, last).asNumber()};
}

// Classes and values of an entry (its text form), to compare a readback with what was programmed.
inline std::string describe(TwiceNatAddrOnlyTableEntry const& e) {
   return valueToStrep(e);
}
inline std::string describe(MatchC const& m, Action const& a) {
   return describe(entryOf(m, a));
}

// Class, status and message of what an operation threw.
struct Thrown {
   std::string cls;
   I32 status = 0;
   std::string what;
   bool operator==(Thrown const&) const = default;
   friend void PrintTo(Thrown const& t, std::ostream* os) {
      *os << t.cls << " " << t.status << " \"" << t.what << "\"";
   }
};
// A handler for the base receives the base and its two public subclasses; the privately derived
// ones escape it, each to a handler of its own.
inline Thrown thrownBy(std::function<void()> const& f) {
   using namespace BfTable;
   try {
      try {
         f();
      } catch (BfTableException const& e) {
         return {dynamic_cast<BfTableFull const*>(&e)        ? "BfTableFull"
                 : dynamic_cast<BfNoSysResources const*>(&e) ? "BfNoSysResources"
                                                             : "BfTableException",
                 e.status, e.what()};
      }
   } catch (BfTryAgain const& e) {
      return {"BfTryAgain", e.status, e.what()};
   } catch (BfDuplicateEntry const& e) {
      return {"BfDuplicateEntry", e.status, e.what()};
   } catch (BfNotSupported const& e) {
      return {"BfNotSupported", e.status, e.what()};
   }
   return {};
}

inline std::pair<I32, char const*> const kStatuses[] = {
    {2, "No system resources"},      {3, "Invalid arguments"},
    {4, "Already exists"},           {6, "Object not found"},
    {9, "Not enough space"},         {10, "Resource temporarily not available, try again later"},
    {17, "Operation not supported"}, {26, "Hardware entry not found"},
    {27, "Unknown error"},           {-1, "Unknown error"}};

// What a failed entry operation throws: its label, the status text, the class by the status
// (duplicates have a class of their own only in the BfRt rule).
inline Thrown entryFailure(std::string const& label, I32 st, char const* text, bool bfrt) {
   char const* cls = st == 9           ? "BfTableFull"
                     : st == 2         ? "BfNoSysResources"
                     : st == 17        ? "BfNotSupported"
                     : st == 4 && bfrt ? "BfDuplicateEntry"
                                       : "BfTableException";
   return {cls, st, label + "() failed: " + text};
}

inline std::string entryIsFn(std::string const& backEnd) {
   return "virtual void BfTwiceNatAddrOnly::TwiceNatAddrOnlyTable" + backEnd +
          "::entryIs(const BfTwiceNatAddrOnly::TwiceNatAddrOnlyTableEntry&)";
}
inline std::string const kLookupFn =
    "BfTwiceNatAddrOnly::TwiceNatAddrOnlyTableEntry BfTwiceNatAddrOnly::TwiceNatAddrOnlyTable::"
    "entry(const PtrConst&) const";
inline std::string entryDelFn(std::string const& backEnd) {
   return "virtual void BfTwiceNatAddrOnly::TwiceNatAddrOnlyTable" + backEnd +
          "::entryDel(const PtrConst&)";
}

// The C library's assertion line for `expr` failing in `fn`, as a death-test pattern.
inline std::string escaped(std::string const& s) {
   std::string r;
   for (char c : s)
      r +=
          std::string(std::string_view("\\^$.|?*+()[]{}").find(c) != std::string_view::npos, '\\') +
          c;
   return r;
}
inline std::string assertion(std::string const& fn, std::string const& expr) {
   return escaped(std::string(kSourceName) + ":") + "[0-9]+: " + escaped(fn) + ": Assertion `" +
          escaped(expr) + "' failed";
}

}  // namespace tabletest
