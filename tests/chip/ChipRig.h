#pragma once
// The chip's rig: a private chip attached as a device, with the SDK library loaded as the agent
// loads it and the PD interface object bound from it; or file-backed chips in a scratch folder
// of the test's own. And the chip's whole observable state as one comparable text.
#include <dlfcn.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <memory>
#include <string>
#include <vector>

#include "BfTwiceNatAddrOnly/platform/BfPdTwiceNatAddrOnlyIntf.h"
#include "chip/Chip.h"
#include "chip/ChipException.h"
#include "chip/Devices.h"
#include "support/Scratch.h"

namespace chiptest {

using namespace BfPdTwiceNatAddrOnly;

constexpr U8 kDev = 3;
constexpr U32 kSess = 77;

inline chip::Key keyOf(int k, uint16_t pipe = chip::kAllPipes) {
   return chip::Key{pipe, 1, uint32_t(k) * 11, uint32_t(k)};
}
inline chip::ActionRec actOf(int a) {
   chip::ActionRec r;
   r.action = a ? chip::Action::hit : chip::Action::onMiss;
   r.params[0] = uint32_t(a);
   return r;
}

// Scope, defaults and entries (by handle) as text.
inline std::string stateOf(chip::Chip const& c) {
   auto act = [](chip::ActionRec const& a) {
      std::string s = std::to_string(int(a.action));
      for (uint32_t p : a.params)
         s += "," + std::to_string(p);
      return s;
   };
   std::string out = c.scope() == chip::Scope::allPipes ? "all" : "single";
   for (int p = -1; p < int(c.pipes()); ++p)
      out += " d" + act(c.defaultAction(p < 0 ? chip::kAllPipes : uint16_t(p)));
   std::vector<chip::EntryView> all;
   c.forEachEntry([&](chip::EntryView const& e) { all.push_back(e); });
   std::sort(all.begin(), all.end(), [](auto& a, auto& b) { return a.handle < b.handle; });
   for (auto const& e : all) {
      char buf[64];
      std::snprintf(buf, sizeof buf, " %x:%u/%u/%u/%u=", e.handle, e.key.pipe, e.key.vrf, e.key.dip,
                    e.key.sip);
      out += buf + act(e.act);
   }
   return out + " n" + std::to_string(c.count());
}

// A chip (file-backed at `path`) that keeps working: it fills up and refuses the next add, a
// reopen finds it full, every entry added is modified and deleted again, and a reopen is clean
// and finds the chip as it was.
inline void expectWorks(std::unique_ptr<chip::Chip>& c, std::string const& path) {
   std::string const before = stateOf(*c);
   uint16_t const pipe = c->scope() == chip::Scope::allPipes ? chip::kAllPipes : 0;
   std::vector<uint32_t> added;
   for (uint32_t h = 0; c->count() < c->capacity(); added.push_back(h))
      ASSERT_EQ(c->entryAdd(keyOf(90 + int(c->count()), pipe), actOf(1), &h), 0);
   uint32_t h = 0;
   ASSERT_EQ(c->entryAdd(keyOf(99, pipe), actOf(1), &h), chip::status::kNoSpace);
   std::string const full = stateOf(*c);
   c = chip::Chip::open(path);
   ASSERT_EQ(stateOf(*c), full);
   for (uint32_t a : added) {
      ASSERT_EQ(c->entryMod(a, actOf(2)), 0);
      ASSERT_EQ(c->entryDel(a), 0);
   }
   c = chip::Chip::open(path);
   EXPECT_TRUE(c->openNotes().empty()) << c->openNotes().front();
   EXPECT_EQ(stateOf(*c), before);
}

class ChipRig : public testing::Test {
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
   }

   Status addHit(MatchSpec m, HitSpec a, Hdl* h, U16 pipe = chip::kAllPipes) {
      return pd->tableAddWithTwiceNatAddrOnlyHit(kSess, DevTarget{kDev, pipe}, &m, &a, h);
   }
   Status addMiss(MatchSpec m, Hdl* h, U16 pipe = chip::kAllPipes) {
      return pd->tableAddWithOnMiss(kSess, DevTarget{kDev, pipe}, &m, h);
   }
   // File-backed chips: a path in the test's folder, and a file's bytes.
   std::string file(std::string const& name = "chip") const { return dir + "/" + name; }
   static std::vector<char> bytesOf(std::string const& path) {
      std::ifstream in(path, std::ios::binary);
      return {std::istreambuf_iterator<char>(in), {}};
   }
   static void bytesAre(std::string const& path, std::vector<char> const& bytes) {
      std::ofstream(path, std::ios::binary | std::ios::trunc).write(bytes.data(), bytes.size());
   }

   std::string const dir = TwiceNatTest::scratchFolder("chip");
   std::unique_ptr<chip::Chip> chip;
   void* dl = nullptr;
   BfPdTwiceNatAddrOnlyIntf::Ptr pd;
};

}  // namespace chiptest
