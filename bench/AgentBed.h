// What the resync, memory, core and services families share: a scratch folder that is removed
// again, the SDK library as the agent loads it, a core started as the agent starts it, and a
// table with the agent's services (key manager over a key table in the folder, status manager,
// the core's entry index) on a private chip, programmed the way the agent programs: the library
// adds the entry, then the agent writes the key's record.
#pragma once

#include <dlfcn.h>
#include <stdlib.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <string>

#include "BfTwiceNatAddrOnly/table/TwiceNatAddrOnlyTableFactory.h"
#include "agent/KeyManager.h"
#include "agent/StatusManager.h"
#include "agent/core/AgentCore.h"
#include "agent/core/EntryIndex.h"
#include "agent/core/EntryIndexFiller.h"
#include "agent/core/EntrySpecs.h"
#include "chip/Chip.h"
#include "chip/Devices.h"

namespace bench {

inline constexpr char kSdkLib[] = TWICENAT_LIB_DIR "/libtwicenat_sdk.so";
inline constexpr U32 kSessionId = 1;

struct ScratchFolder {
   explicit ScratchFolder(char const* name) {
      std::string pattern =
          (std::filesystem::temp_directory_path() / (std::string(name) + "-XXXXXX")).string();
      if (!::mkdtemp(pattern.data())) {
         std::perror("mkdtemp");
         std::abort();
      }
      path = pattern;
   }
   ~ScratchFolder() {
      std::error_code ec;
      std::filesystem::remove_all(path, ec);
   }
   ScratchFolder(ScratchFolder const&) = delete;
   ScratchFolder& operator=(ScratchFolder const&) = delete;
   std::string path;
};

struct SdkHandle {
   SdkHandle() : dl(::dlopen(kSdkLib, RTLD_NOW)) {
      if (!dl) {
         std::fprintf(stderr, "%s\n", ::dlerror());
         std::abort();
      }
   }
   ~SdkHandle() { ::dlclose(dl); }
   SdkHandle(SdkHandle const&) = delete;
   SdkHandle& operator=(SdkHandle const&) = delete;
   void* dl;
};

// A core started as the agent starts it: its key table in `folder`, the chip `inventory` lists.
inline std::unique_ptr<TwiceNatAgent::AgentCore> startedCore(
    ScratchFolder const& folder, SdkHandle const& sdk, BfnTable::SdkEntryInventory const& inventory,
    U8 device) {
   TwiceNatAgent::AgentCore::Config config;
   config.keyTablePath = folder.path + "/keys";
   config.sdkLibrary = sdk.dl;
   config.sdkLibraryPath = kSdkLib;
   config.inventory = &inventory;
   config.device = device;
   return TwiceNatAgent::AgentCore::start(config);
}

// A private chip attached as `device` for the bed's life.
struct AttachedChip {
   AttachedChip(U8 device, bool bfrt, U32 capacity) : device(device) {
      chip::Profile p;
      p.bfrt = bfrt;
      p.capacity = capacity;
      chip = chip::Chip::createPrivate(p);
      chip::attach(device, *chip);
   }
   ~AttachedChip() {
      chip::detach(device);
      chip.reset();
   }
   AttachedChip(AttachedChip const&) = delete;
   AttachedChip& operator=(AttachedChip const&) = delete;
   U8 device;
   std::unique_ptr<chip::Chip> chip;
};

// Entry `i` of a bed: distinct destinations, hit and ECMP actions in turn, a VRF when the
// table has the field.
inline BfTwiceNatAddrOnly::TwiceNatAddrOnlyTableEntry benchEntry(U32 i, bool vrf) {
   using namespace BfTwiceNatAddrOnly;
   auto m = twiceNatAddrOnlyMatchSpecFactory();
   m->outerIpv4HdrDipIs(0x0A000000u + i);
   m->outerIpv4HdrSipIs(0xC0A80001u + (i & 0xF));
   if (vrf) m->l3InfoVrfIdIs(static_cast<U16>(i & 0xFF));
   TwiceNatAddrOnlyTableEntry e(m);
   if (i & 1) {
      auto a = twiceNatAddrOnlyHitEcmpActionSpecFactory();
      a->keyIdIs(static_cast<U16>(i));
      a->rwIdIs(static_cast<U16>(i >> 16));
      a->protIs(17);
      a->ecmpGroupIs(static_cast<U16>(i & 0x3FF));
      e.actionIs(a);
   } else {
      auto a = twiceNatAddrOnlyHitActionSpecFactory();
      a->keyIdIs(static_cast<U16>(i));
      a->rwIdIs(static_cast<U16>(i >> 16));
      a->protIs(6);
      a->nextHopIs(static_cast<U16>(i & 0x3FF));
      e.actionIs(a);
   }
   return e;
}

// The agent's services for a key table file, as the agent core runs them: a fresh key manager
// over it (no associations yet, as at a start) that finds keys through the core's entry index,
// which a resync's populates fill as the core's start does, and a status manager. The table
// over them goes first: the key manager is not told that the index goes.
struct AgentServices final : TwiceNatAgent::KeyManager::MatchIndex,
                             TwiceNatAgent::KeyManager::PopulateListener {
   using KeyManager = TwiceNatAgent::KeyManager;

   explicit AgentServices(std::string const& keyTablePath)
       : keys(KeyManager::keyManagerIs(TwiceNatAgent::KeyTable::open(keyTablePath))),
         statuses(TwiceNatAgent::StatusManager::statusManagerIs(keys)) {
      index.limitIs(keys->capacity());
      index.reserve(keys->size() + keys->size() / 8);
      keys->matchIndexIs(this);
      keys->populateListenerIs(this);
   }
   ~AgentServices() { keys->populateListenerIs(nullptr); }
   AgentServices(AgentServices const&) = delete;
   AgentServices& operator=(AgentServices const&) = delete;

   KeyManager::EntryKey keyNamed(BfnTable::MatchSpecBase const& m) const override {
      return index.find(matchKeyOf(m));
   }
   void populated(KeyManager::EntryConfig const& record,
                  KeyManager::MatchPtr const& match) override {
      if (match) fill.add(matchKeyOf(*match), record.key);
   }
   // After a resync: the records its walk staged go into the index.
   void walked() { fill.flush(); }

   static TwiceNatAgent::MatchKey matchKeyOf(BfnTable::MatchSpecBase const& m) {
      return TwiceNatAgent::matchKeyOf(
          static_cast<BfTwiceNatAddrOnly::TwiceNatAddrOnlyMatchSpec const&>(m));
   }

   KeyManager::Ptr keys;
   TwiceNatAgent::StatusManager::Ptr statuses;
   TwiceNatAgent::EntryIndex index;
   TwiceNatAgent::EntryIndexFiller fill{index};
};

inline BfTwiceNatAddrOnly::TwiceNatAddrOnlyTable::Ptr tableOf(AgentServices const* services,
                                                              SdkHandle const& sdk, U8 device) {
   return twiceNatAddrOnlyTableFactory(services ? services->keys : nullptr,
                                       services ? services->statuses : nullptr, sdk.dl, kSessionId,
                                       device, 0xFFFF, kSdkLib);
}

// Adds an entry and, with services, writes its key's record as the agent does after the chip
// took it, with the key and handle the programming reports. False when the table refused it.
inline bool programOne(BfTwiceNatAddrOnly::TwiceNatAddrOnlyTable& table, AgentServices* services,
                       BfTwiceNatAddrOnly::TwiceNatAddrOnlyTableEntry const& e) {
   auto const done = table.entryIsReported(e);
   if (!services) return true;
   if (done.key == 0) return false;
   // Indexed before the record is written, as the core does.
   services->index.insert(AgentServices::matchKeyOf(*e.match()), U32(done.key));
   services->keys->recordHandleIs(done.key, done.sdkHandle);
   return true;
}

}  // namespace bench
