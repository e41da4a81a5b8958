#pragma once
// A core over a small chip in process memory, with its key table in a temporary folder that
// goes when the fuzzer exits, for fuzzers that drive the P4Runtime handlers.
#include <dlfcn.h>
#include <stdlib.h>

#include <cstdio>
#include <filesystem>
#include <mutex>

#include "agent/KeyTable.h"
#include "agent/core/AgentCore.h"
#include "agent/p4rt/Pipeline.h"
#include "chip/Chip.h"
#include "chip/ChipInventory.h"
#include "chip/Devices.h"

namespace TwiceNatP4rtFuzz {

class FuzzCore {
 public:
   FuzzCore() {
      char dir[] = "/tmp/twicenat_p4rt_fuzz_XXXXXX";
      if (!::mkdtemp(dir)) std::abort();
      dir_ = dir;
      chip::Profile profile;
      profile.capacity = 48;
      chip_ = chip::Chip::createPrivate(profile);
      inventory_ = std::make_unique<chip::ChipInventory>(*chip_);
      chip::attach(TwiceNatAgent::AgentCore::kDevice, *chip_);
      TwiceNatAgent::KeyTable::create(dir_ + "/keys", profile.capacity + chip::kMaxPipes + 1);
      sdk_ = ::dlopen(kSdk, RTLD_NOW | RTLD_LOCAL);
      if (!sdk_) {
         std::fprintf(stderr, "%s\n", ::dlerror());
         std::abort();
      }
      TwiceNatAgent::AgentCore::Config config;
      config.keyTablePath = dir_ + "/keys";
      config.sdkLibrary = sdk_;
      config.sdkLibraryPath = kSdk;
      config.inventory = inventory_.get();
      core_ = TwiceNatAgent::AgentCore::start(config);
      pipeline_.emplace(core_->vrfKeyField(), core_->capacity());
   }
   ~FuzzCore() {
      core_.reset();
      inventory_.reset();
      chip_.reset();
      std::error_code ignored;
      std::filesystem::remove_all(dir_, ignored);
   }

   // The core with no entry and no default action.
   TwiceNatAgent::AgentCore& emptied() {
      std::vector<TwiceNatAgent::EntryRow> rows;
      for (U64 c = core_->readPage(0, 256, {}, rows); c != 0;)
         c = core_->readPage(c, 256, {}, rows);
      std::vector<TwiceNatAgent::Update> clear;
      for (auto const& row : rows)
         clear.push_back({TwiceNatAgent::UpdateKind::remove, row.entry});
      clear.push_back({TwiceNatAgent::UpdateKind::defaultReset, {}});
      if (!core_->apply(clear, TwiceNatAgent::BatchMode::continueOnError).ok()) std::abort();
      return *core_;
   }
   TwiceNatP4rt::Pipeline const& pipeline() const { return *pipeline_; }

 private:
   static constexpr char const* kSdk = TWICENAT_LIB_DIR "/libtwicenat_sdk.so";
   std::string dir_;
   std::unique_ptr<chip::Chip> chip_;
   std::unique_ptr<chip::ChipInventory> inventory_;
   void* sdk_ = nullptr;
   std::unique_ptr<TwiceNatAgent::AgentCore> core_;
   std::optional<TwiceNatP4rt::Pipeline> pipeline_;
};

}  // namespace TwiceNatP4rtFuzz
