#pragma once
// A chip attached as a device, the SDK library loaded as the agent loads it, and a table made
// by the agent's creation function over recording doubles of the agent's two services, whose
// calls are placed among the SDK calls of the chip's journal.
#include <dlfcn.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "BfTwiceNatAddrOnly/bfrt/BfrtModuleObjects.h"
#include "BfTwiceNatAddrOnly/bfrt/TwiceNatAddrOnlyTableBfrt.h"
#include "BfTwiceNatAddrOnly/table/TwiceNatAddrOnlyTableFactory.h"
#include "agent/KeyManager.h"
#include "agent/StatusManager.h"
#include "chip/Chip.h"
#include "chip/Devices.h"
#include "chip/Journal.h"

namespace bfrttest {

using namespace BfTwiceNatAddrOnly;
using Pd = BfPdTwiceNatAddrOnly::BfPdTwiceNatAddrOnlyIntf;
using Match = TwiceNatAddrOnlyMatchSpec::Ptr;
using Action = TwiceNatAddrOnlyBaseActionSpec::Ptr;
using MatchBase = BfnTable::MatchSpecBase::PtrConst;

constexpr U8 kDev = 5;
constexpr U16 kAll = 0xFFFF;
inline char const* const kSdkPath = TWICENAT_LIB_DIR "/libtwicenat_sdk.so";

// Service calls, each with the journal length at the time, so they can be merged in order.
struct ServiceLog {
   std::vector<std::pair<size_t, std::string>> events;
   void add(std::string text) { events.emplace_back(chip::journal().size(), std::move(text)); }
};

class RecordingKeyManager : public MbbDroskKey::DroskKeyManager {
 public:
   RecordingKeyManager(TwiceNatAgent::KeyManager::Ptr real, ServiceLog* log)
       : real_(std::move(real)), log_(log) {}
   Drosk::MbbDroskTableConfig* mbbDroskTableConfig() const override {
      return real_->mbbDroskTableConfig();
   }
   EntryKey alloc(MatchBase const& m, bool flag) override {
      EntryKey k = real_->alloc(m, flag);
      log_->add("alloc " + std::to_string(k) + (flag ? " true" : " false"));
      return k;
   }
   void free(EntryKey k) override {
      log_->add("free " + std::to_string(k));
      real_->free(k);
   }
   void populate(EntryKey const& k, MatchBase const& m) override { real_->populate(k, m); }
   EntryKey highestKey() const override { return real_->highestKey(); }
   void highestKeyIs(EntryKey k) override { real_->highestKeyIs(k); }
   ZIN_ALLOCATED(RecordingKeyManager)

 protected:
   ~RecordingKeyManager() override = default;

 private:
   TwiceNatAgent::KeyManager::Ptr real_;
   ServiceLog* log_;
};

class RecordingStatusManager : public BfnTableStatusManager::StatusManager {
 public:
   explicit RecordingStatusManager(ServiceLog* log) : log_(log) {}
   void initStatus(MatchBase const& m) override {
      log_->add("initStatus");
      real_->initStatus(m);
   }
   void resyncStatus() override { real_->resyncStatus(); }
   ZIN_ALLOCATED(RecordingStatusManager)

 protected:
   ~RecordingStatusManager() override = default;

 private:
   TwiceNatAgent::StatusManager::Ptr real_ = TwiceNatAgent::StatusManager::statusManagerIs();
   ServiceLog* log_;
};

inline Match matchOf(U32 dip, U32 sip) {
   Match m = twiceNatAddrOnlyMatchSpecFactory();
   m->outerIpv4HdrDipIs(dip);
   m->outerIpv4HdrSipIs(sip);
   return m;
}
// keyId, rwId, prot, frag, then nextHop or ecmpGroup.
inline Action actionOf(TwiceNatAddrOnlyActionSpecType type, U16 k = 0, U16 r = 0, U8 p = 0,
                       U8 f = 0, U16 last = 0) {
   Action a;
   if (type == twiceNatAddrOnlyHitActionSpec) {
      auto hit = twiceNatAddrOnlyHitActionSpecFactory();
      hit->nextHopIs(last);
      a = hit;
   } else if (type == twiceNatAddrOnlyHitEcmpActionSpec) {
      auto ecmp = twiceNatAddrOnlyHitEcmpActionSpecFactory();
      ecmp->ecmpGroupIs(last);
      a = ecmp;
   } else {
      a = onMissActionSpecFactory();
   }
   a->keyIdIs(k), a->rwIdIs(r), a->protIs(p), a->fragIs(f);
   return a;
}

class BfrtFixture : public testing::Test {
 protected:
   // A new private chip (unless one is held) attached as kDev, and a table created over it.
   void open(chip::Profile profile = {}, U16 pipe = kAll) {
      if (!chip_) chip_ = chip::Chip::createPrivate(profile);
      chip::attach(kDev, *chip_);
      if (!dl_) dl_ = ::dlopen(kSdkPath, RTLD_NOW);
      ASSERT_NE(dl_, nullptr) << ::dlerror();
      keys_ = TwiceNatAgent::KeyManager::keyManagerIs(
          TwiceNatAgent::KeyTable::openOrCreate(keyPath_, 64));
      km_ = new RecordingKeyManager(keys_, &log_);
      sm_ = new RecordingStatusManager(&log_);
      chip::journalEnabledIs(true);
      table_ = ::twiceNatAddrOnlyTableFactory(km_, sm_, dl_, 1, kDev, pipe, kSdkPath);
   }
   // Drops the table and services as the agent would at its end; the chip and key table stay.
   void close() {
      table_ = nullptr, km_ = nullptr, sm_ = nullptr, keys_ = nullptr;
      chip::detach(kDev);
   }
   void TearDown() override {
      close();
      chip_.reset();
      if (dl_) ::dlclose(dl_);
      dl_ = nullptr;
      chip::faultsClear();
      chip::journalEnabledIs(false);
      chip::journalClear();
      TwiceNatAgent::KeyTable::destroy(keyPath_);
   }

   void program(TwiceNatAddrOnlyMatchSpec::PtrConst const& m, Action const& a) {
      TwiceNatAddrOnlyTableEntry e(m);
      e.actionIs(a);
      table_->entryIs(e);
   }
   Pd const& pd() const { return *table_->helper()->pdLib(); }
   TwiceNatAddrOnlyTableHandles& handles() const { return *table_->helper()->sdkHandles(); }
   U64 sess() const { return pd().bfRtTableIntf->bfRtSessionGet()->sessHandleGet(); }
   // Journal calls and service events since the journal was cleared, in order.
   std::vector<std::string> timeline() const {
      std::vector<std::string> out;
      auto ev = log_.events.begin();
      auto const& calls = chip::journal();
      for (size_t i = 0; i <= calls.size(); ++i) {
         for (; ev != log_.events.end() && ev->first == i; ++ev)
            out.push_back(ev->second);
         if (i < calls.size()) out.push_back(calls[i].toString());
      }
      return out;
   }
   void mark() {
      chip::journalClear();
      log_.events.clear();
   }

   std::unique_ptr<chip::Chip> chip_;
   void* dl_ = nullptr;
   std::string keyPath_ = testing::TempDir() + "bfrt_keys_" + std::to_string(::getpid());
   ServiceLog log_;
   TwiceNatAgent::KeyManager::Ptr keys_;
   Pemra::Ptr<RecordingKeyManager> km_;
   Pemra::Ptr<RecordingStatusManager> sm_;
   TwiceNatAddrOnlyTable::Ptr table_;
};

// "name(a, b) = status", as the journal writes a call.
inline std::string call(std::string name, std::vector<uint64_t> args, int32_t st = 0) {
   return chip::JournalCall{std::move(name), std::move(args), st}.toString();
}

}  // namespace bfrttest
