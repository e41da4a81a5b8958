#pragma once
// A private chip attached as a device, the SDK library loaded as the agent loads it, and the PD
// interface object bound from it.
#include <dlfcn.h>
#include <gtest/gtest.h>

#include <cstdio>
#include <memory>
#include <string>

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
      dl = ::dlopen(TWICENAT_LIB_DIR "/libtwicenat_sdk.so", RTLD_NOW);
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
   // The PD read of `h` as "action vrf dip sip keyId rwId prot frag last" (hex addresses), or
   // its status when it fails.
   std::string read(Hdl h) {
      MatchSpec m{};
      HitSpec a{};
      char name[kActionNameSize] = {};
      uint8_t ttl = 9;
      Status st = pd->getEntry(kSess, kDev, h, false, &m, name, &a, nullptr, &ttl);
      if (st != 0) return std::to_string(st);
      std::string act = name;
      if (act.starts_with("p4_pd_tolvex_switch_")) act.erase(0, 20);
      char buf[160];
      std::snprintf(buf, sizeof buf, "%s %u %x %x %u %u %u %u %u", act.c_str(), m.l3InfoVrfId,
                    m.outerIpv4HdrDip, m.outerIpv4HdrSip, a.action_keyId, a.action_rwId,
                    a.action_prot, a.action_frag, a.action_nextHop);
      return buf;
   }

   std::unique_ptr<chip::Chip> chip;
   void* dl = nullptr;
   BfPdTwiceNatAddrOnlyIntf::Ptr pd;
};

}  // namespace chiptest
