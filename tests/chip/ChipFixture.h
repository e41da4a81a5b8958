#pragma once
// A private chip attached as a device, the SDK library loaded the way the agent loads it, and
// the PD interface object bound from it.
#include <dlfcn.h>
#include <gtest/gtest.h>

#include <memory>

#include "BfTwiceNatAddrOnly/platform/BfPdTwiceNatAddrOnlyIntf.h"
#include "chip/BfRtSchema.h"
#include "chip/Chip.h"
#include "chip/Devices.h"
#include "chip/Journal.h"

namespace chiptest {

using namespace BfPdTwiceNatAddrOnly;

constexpr U8 kDev = 3;
constexpr U32 kSess = 77;
constexpr U16 kAll = 0xFFFF;
inline char const* const kSdkPath = TWICENAT_LIB_DIR "/libtwicenat_sdk.so";

inline MatchSpec match(U16 vrf, U32 dip, U32 sip) {
   return MatchSpec{vrf, dip, sip};
}
inline HitSpec hit(U16 keyId, U16 rwId, U8 prot, U8 frag, U16 last) {
   return HitSpec{keyId, rwId, prot, frag, last};
}

class ChipFixture : public testing::Test {
 public:
   void attachChip(chip::Profile const& profile = {}) {
      chip = chip::Chip::createPrivate(profile);
      chip::attach(kDev, *chip);
      dl = ::dlopen(kSdkPath, RTLD_NOW);
      ASSERT_NE(dl, nullptr) << ::dlerror();
      pd = new BfPdTwiceNatAddrOnlyIntf(kDev, "libtwicenat_sdk.so", dl, kSess);
   }
   void TearDown() override {
      pd = nullptr;
      chip.reset();  // detaches
      if (dl) ::dlclose(dl);
      chip::faultsClear();
      chip::journalEnabledIs(false);
      chip::journalClear();
   }

   DevTarget tgt(U16 pipe = kAll) const { return DevTarget{kDev, pipe}; }
   Status addHit(MatchSpec m, HitSpec a, Hdl* h, U16 pipe = kAll) {
      return pd->tableAddWithTwiceNatAddrOnlyHit(kSess, tgt(pipe), &m, &a, h);
   }
   Status addMiss(MatchSpec m, Hdl* h, U16 pipe = kAll) {
      return pd->tableAddWithOnMiss(kSess, tgt(pipe), &m, h);
   }
   // Reads an entry through the PD face.
   struct Read {
      Status status;
      MatchSpec m;
      std::string action;
      HitSpec a;
   };
   Read read(Hdl h) {
      Read r{};
      char name[kActionNameSize] = {};
      uint8_t ttl = 9;
      r.status = pd->getEntry(kSess, kDev, h, false, &r.m, name, &r.a, nullptr, &ttl);
      r.action = name;
      return r;
   }

   std::unique_ptr<chip::Chip> chip;
   void* dl = nullptr;
   BfPdTwiceNatAddrOnlyIntf::Ptr pd;
};

}  // namespace chiptest
