#pragma once
// A chip file and its key table in a scratch folder, agent cores started over them, and the
// table as a core reads it back.
#include <dlfcn.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "agent/KeyTable.h"
#include "agent/core/AgentCore.h"
#include "agent/core/EntrySpecs.h"
#include "chip/Chip.h"
#include "chip/ChipInventory.h"
#include "chip/Devices.h"
#include "support/Scratch.h"

namespace TwiceNatCoreTest {

using TwiceNatAgent::ActionKind;
using TwiceNatAgent::ActionValues;
using TwiceNatAgent::AgentCore;
using TwiceNatAgent::EntrySpec;
using TwiceNatAgent::MatchKey;

// The chip's SDK library, loaded by path as an agent loads it.
struct Sdk {
   Sdk() : handle(::dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL)) {
      if (!handle) ADD_FAILURE() << ::dlerror();
   }
   ~Sdk() {
      if (handle) ::dlclose(handle);
   }
   std::string const path = TWICENAT_LIB_DIR "/libtwicenat_sdk.so";
   void* const handle;
};

class StateFiles {
 public:
   explicit StateFiles(chip::Profile const& profile) {
      chip::Chip::create(chip(), profile);
      TwiceNatAgent::KeyTable::create(keys(), profile.capacity + chip::kMaxPipes + 1);
   }

   std::string chip() const { return dir_ + "/chip"; }
   std::string keys() const { return dir_ + "/keys"; }
   // Copies both files over those of `to`.
   void copyTo(StateFiles const& to) const {
      auto const over = std::filesystem::copy_options::overwrite_existing;
      std::filesystem::copy_file(chip(), to.chip(), over);
      std::filesystem::copy_file(keys(), to.keys(), over);
   }

 private:
   std::string const dir_ = TwiceNatTest::scratchFolder("core");
};

// One agent start over the files: the chip opened and attached as the core's device, the core
// started (and so reconciled). Dropping it drops the core, then the chip, which detaches.
struct Start {
   Start(StateFiles const& files, Sdk const& sdk, bool readOnly = false)
       : chip(chip::Chip::open(
             files.chip(), readOnly ? chip::ChipAccess::readOnly : chip::ChipAccess::readWrite)),
         inventory(*chip) {
      chip::attach(AgentCore::kDevice, *chip);
      AgentCore::Config config;
      config.keyTablePath = files.keys();
      config.sdkLibrary = sdk.handle;
      config.sdkLibraryPath = sdk.path;
      config.inventory = &inventory;
      config.chipName = files.chip();
      config.readOnly = readOnly;
      core = AgentCore::start(config);
   }
   AgentCore& s() const { return *core; }

   std::unique_ptr<chip::Chip> chip;
   chip::ChipInventory inventory;
   std::unique_ptr<AgentCore> core;
};

// Entry n: 10.0.0.n -> 192.168.0.n in VRF n % 3, with an action of `kind`.
inline EntrySpec entryOf(U32 n, ActionKind kind = ActionKind::hit, U16 target = 7) {
   return {{0x0A000000u + n, 0xC0A80000u + n, U16(n % 3), true},
           {kind, U16(n), U16(n + 1), 6, 0, target}};
}

inline std::string actionText(ActionValues const& a) {
   return std::string(TwiceNatAgent::p4ActionName(a.kind)) + " " + std::to_string(a.keyId) + " " +
          std::to_string(a.rwId) + " " + std::to_string(a.prot) + " " + std::to_string(a.frag) +
          " " + std::to_string(a.target);
}

// Every entry as a streamed read meets it, in pages of `page`.
inline std::vector<TwiceNatAgent::EntryRow> rowsOf(AgentCore const& s, std::size_t page = 7) {
   std::vector<TwiceNatAgent::EntryRow> rows;
   for (U64 cursor = s.readPage(0, page, {}, rows); cursor;)
      cursor = s.readPage(cursor, page, {}, rows);
   return rows;
}

// The table as the agent reads it back, without handles: sorted entry lines, then the default.
inline std::vector<std::string> contents(AgentCore const& s) {
   std::vector<std::string> lines;
   for (auto const& row : rowsOf(s)) {
      lines.push_back(TwiceNatAgent::keyText(row.entry.match) + " " +
                      (row.origin == TwiceNatAgent::EntryOrigin::missingOnChip
                           ? "missing"
                           : actionText(row.entry.action)));
   }
   std::sort(lines.begin(), lines.end());
   auto def = s.readDefault();
   lines.push_back("default " + (def ? actionText(def->entry.action) : "none"));
   return lines;
}

}  // namespace TwiceNatCoreTest
