#pragma once
// A PD-backed table over a private simulated chip (without BfRt, so the creation function picks
// the PD back end), the agent's real key and status managers behind recording wrappers, and
// the SDK call journal switched on.
#include <dlfcn.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "BfTwiceNatAddrOnly/pd/TwiceNatAddrOnlyTablePd.h"
#include "BfTwiceNatAddrOnly/table/Diagnostics.h"
#include "BfTwiceNatAddrOnly/table/TableExceptions.h"
#include "BfTwiceNatAddrOnly/table/TwiceNatAddrOnlyTableFactory.h"
#include "agent/KeyManager.h"
#include "agent/StatusManager.h"
#include "chip/Chip.h"
#include "chip/Devices.h"
#include "chip/Journal.h"

namespace pdtest {

using namespace BfTwiceNatAddrOnly;
using BfPdTwiceNatAddrOnly::Hdl;

constexpr U8 kDev = 5;
constexpr U32 kSess = 41;
constexpr U16 kAllPipes = 0xFFFF;
inline char const* const kSdkName = "libtwicenat_sdk.so";

// The SDK library, loaded once the way the agent loads it.
inline void* sdkHandle() {
   static void* dl = ::dlopen(TWICENAT_LIB_DIR "/libtwicenat_sdk.so", RTLD_NOW);
   return dl;
}

inline BfnTable::MatchSpecBase const* base(TwiceNatAddrOnlyMatchSpec::PtrConst const& m) {
   return m.ptr();
}

// One call into a service, with how many SDK calls the journal held at that moment.
struct ServiceCall {
   std::string op;
   U64 key = 0;
   BfnTable::MatchSpecBase const* match = nullptr;
   std::size_t journalAt = 0;
   bool operator==(ServiceCall const&) const = default;
};
using CallLog = std::vector<ServiceCall>;
using MatchBase = BfnTable::MatchSpecBase::PtrConst;

// The agent's key manager, recording what the table asks of it.
class RecordingKeyManager : public MbbDroskKey::DroskKeyManager {
 public:
   using Ptr = Pemra::Ptr<RecordingKeyManager>;
   RecordingKeyManager(TwiceNatAgent::KeyManager::Ptr inner, CallLog& log)
       : inner_(std::move(inner)), log_(log) {}
   Drosk::MbbDroskTableConfig* mbbDroskTableConfig() const override {
      return inner_->mbbDroskTableConfig();
   }
   EntryKey alloc(MatchBase const& match, bool flag) override {
      EntryKey key = inner_->alloc(match, flag);
      note(flag ? "alloc(true)" : "alloc", key, match.ptr());
      return key;
   }
   void free(EntryKey key) override { note("free", key), inner_->free(key); }
   void populate(EntryKey const& key, MatchBase const& match) override {
      note("populate", key, match.ptr()), inner_->populate(key, match);
   }
   EntryKey highestKey() const override { return inner_->highestKey(); }
   void highestKeyIs(EntryKey key) override {
      note("highestKeyIs", key), inner_->highestKeyIs(key);
   }
   ZIN_ALLOCATED(RecordingKeyManager)

 protected:
   ~RecordingKeyManager() override = default;

 private:
   void note(char const* op, U64 key, BfnTable::MatchSpecBase const* m = nullptr) {
      log_.push_back({op, key, m, chip::journal().size()});
   }
   TwiceNatAgent::KeyManager::Ptr inner_;
   CallLog& log_;
};

class RecordingStatusManager : public BfnTableStatusManager::StatusManager {
 public:
   using Ptr = Pemra::Ptr<RecordingStatusManager>;
   RecordingStatusManager(TwiceNatAgent::StatusManager::Ptr inner, CallLog& log)
       : inner_(std::move(inner)), log_(log) {}
   void initStatus(MatchBase const& match) override {
      log_.push_back({"initStatus", 0, match.ptr(), chip::journal().size()});
      inner_->initStatus(match);
   }
   void resyncStatus() override {
      log_.push_back({"resyncStatus", 0, nullptr, chip::journal().size()});
      inner_->resyncStatus();
   }
   ZIN_ALLOCATED(RecordingStatusManager)

 protected:
   ~RecordingStatusManager() override = default;

 private:
   TwiceNatAgent::StatusManager::Ptr inner_;
   CallLog& log_;
};

// A file path unique to this process and call.
inline std::string scratchPath(char const* what) {
   static unsigned serial = 0;
   return testing::TempDir() + "pd_" + what + "_" + std::to_string(::getpid()) + "_" +
          std::to_string(++serial);
}

struct RigOptions {
   bool vrfKeyField = true;
   U16 pipe = kAllPipes;
   bool keyManager = true;
   bool statusManager = true;
   // When set, the chip and key table of these files instead of new private ones.
   std::string chipPath = {};
   std::string keyPath = {};
   bool createTable = true;
};

class Rig {
 public:
   explicit Rig(RigOptions options = {}) : opts(std::move(options)), ownKeys(opts.keyPath.empty()) {
      chip::Profile profile;
      profile.bfrt = false;
      profile.vrfKeyField = opts.vrfKeyField;
      if (ownKeys) opts.keyPath = scratchPath("keys");
      chip = opts.chipPath.empty() ? chip::Chip::createPrivate(profile)
                                   : chip::Chip::open(opts.chipPath);
      chip::attach(kDev, *chip);
      keys = TwiceNatAgent::KeyManager::keyManagerIs(
          ownKeys ? TwiceNatAgent::KeyTable::create(opts.keyPath, 64)
                  : TwiceNatAgent::KeyTable::open(opts.keyPath));
      statuses = TwiceNatAgent::StatusManager::statusManagerIs();
      if (opts.keyManager) km = new RecordingKeyManager(keys, log);
      if (opts.statusManager) sm = new RecordingStatusManager(statuses, log);
      chip::journalClear();
      chip::journalEnabledIs(true);
      try {
         if (opts.createTable) create();
      } catch (...) {
         release();
         throw;
      }
   }
   ~Rig() { release(); }
   Rig(Rig const&) = delete;
   Rig& operator=(Rig const&) = delete;

   void create() {
      table = twiceNatAddrOnlyTableFactory(km, sm, sdkHandle(), kSess, kDev, opts.pipe, kSdkName);
   }
   void release() {
      table = nullptr;
      km = nullptr;
      sm = nullptr;
      keys = nullptr;
      statuses = nullptr;
      chip.reset();
      chip::faultsClear();
      chip::journalEnabledIs(false);
      chip::journalClear();
      if (ownKeys) TwiceNatAgent::KeyTable::destroy(opts.keyPath);
   }

   TwiceNatAddrOnlyTableHandles& handles() const { return *table->helper()->sdkHandles(); }
   TwiceNatAddrOnlyMatchSpec::PtrConst defaultMatch() const { return table->defaultMatchSpec(); }
   void program(TwiceNatAddrOnlyMatchSpec::PtrConst const& match,
                TwiceNatAddrOnlyBaseActionSpec::PtrConst const& action) {
      TwiceNatAddrOnlyTableEntry entry(match);
      entry.actionIs(action);
      table->entryIs(entry);
   }
   chip::JournalCall lastSdkCall() const {
      return chip::journal().empty() ? chip::JournalCall{} : chip::journal().back();
   }
   // "op key" of every service call, in order.
   std::vector<std::string> ops() const {
      std::vector<std::string> out;
      for (auto const& c : log)
         out.push_back(c.op + " " + std::to_string(c.key));
      return out;
   }

   RigOptions opts;
   bool ownKeys;
   std::unique_ptr<chip::Chip> chip;
   TwiceNatAgent::KeyManager::Ptr keys;
   TwiceNatAgent::StatusManager::Ptr statuses;
   CallLog log;
   RecordingKeyManager::Ptr km;
   RecordingStatusManager::Ptr sm;
   TwiceNatAddrOnlyTable::Ptr table;
};

inline TwiceNatAddrOnlyMatchSpec::Ptr matchSpec(U32 dip, U32 sip, int vrf = -1) {
   auto m = twiceNatAddrOnlyMatchSpecFactory();
   m->outerIpv4HdrDipIs(dip);
   m->outerIpv4HdrSipIs(sip);
   if (vrf >= 0) m->l3InfoVrfIdIs(static_cast<U16>(vrf));
   return m;
}

// An action of `type` whose parameters derive from `seed`.
inline TwiceNatAddrOnlyBaseActionSpec::Ptr actionSpec(TwiceNatAddrOnlyActionSpecType type,
                                                      U16 seed = 0) {
   TwiceNatAddrOnlyBaseActionSpec::Ptr a;
   if (type == onMissActionSpec) return onMissActionSpecFactory();
   if (type == twiceNatAddrOnlyHitActionSpec) {
      auto hit = twiceNatAddrOnlyHitActionSpecFactory();
      hit->nextHopIs(100 + seed);
      a = hit;
   } else {
      auto ecmp = twiceNatAddrOnlyHitEcmpActionSpecFactory();
      ecmp->ecmpGroupIs(200 + seed);
      a = ecmp;
   }
   a->keyIdIs(7 + seed);
   a->rwIdIs(9 + seed);
   a->protIs(6);
   a->fragIs(1);
   return a;
}

// What a programming passes for an action: keyId, rwId, prot, frag, next hop or group.
inline std::vector<U64> actionArgs(TwiceNatAddrOnlyBaseActionSpec const& a) {
   if (auto const* hit = dynamic_cast<TwiceNatAddrOnlyHitActionSpec const*>(&a))
      return {hit->keyId(), hit->rwId(), hit->prot(), hit->frag(), hit->nextHop()};
   if (auto const* ecmp = dynamic_cast<TwiceNatAddrOnlyHitEcmpActionSpec const*>(&a))
      return {ecmp->keyId(), ecmp->rwId(), ecmp->prot(), ecmp->frag(), ecmp->ecmpGroup()};
   return {};
}

// Class name and values of an entry, to compare a readback with what was programmed.
inline std::string describe(TwiceNatAddrOnlyTableEntry const& e) {
   std::ostringstream s;
   if (auto const& m = e.match()) {
      s << "match(" << m->outerIpv4HdrDip() << "," << m->outerIpv4HdrSip() << ",vrf "
        << m->l3InfoVrfId() << (m->l3InfoVrfIdIsSet() ? " set) " : " unset) ");
   }
   if (auto const& a = e.action()) {
      s << a->fwkType()->name() << "(" << a->actionType() << "," << a->keyId() << "," << a->rwId()
        << "," << int(a->prot()) << "," << int(a->frag());
      for (U64 v : actionArgs(*a))
         s << "," << v;
      s << ")";
   }
   return s.str();
}

inline std::vector<U64> concat(std::vector<U64> a, std::vector<U64> const& b) {
   a.insert(a.end(), b.begin(), b.end());
   return a;
}

inline char const* const kActionSuffix[] = {"onMiss", "twiceNatAddrOnlyHit",
                                            "twiceNatAddrOnlyHitEcmp"};
inline std::string pdName(std::string const& suffix) {
   return "p4_pd_tolvex_switch_twiceNatAddrOnly_" + suffix;
}

}  // namespace pdtest
