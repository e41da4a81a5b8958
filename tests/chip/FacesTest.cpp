// The chip's SDK faces: the PD interface object's binding and what the chip refuses through
// it. The library's paths walk programs and reads back through both faces on every layout.
#include <functional>

#include <gmock/gmock.h>

#include "ChipRig.h"
#include "Zin/Exception.h"

namespace chiptest {
namespace {

using PdFace = ChipRig;

// (That each function is bound, and that a chip without BfRt offers no BfRt table, the library's
// paths on both back ends meet.)
TEST_F(PdFace, BindingNamesWhatIsMissing) {
   attachChip();
   void* other = ::dlopen(TWICENAT_LIB_DIR "/libzinrt.so", RTLD_NOW);
   ASSERT_NE(other, nullptr);
   EXPECT_THAT(
       [&] {
          BfPdTwiceNatAddrOnlyIntf::Ptr p(
              new BfPdTwiceNatAddrOnlyIntf(kDev, "libzinrt.so", other, kSess));
       },
       testing::ThrowsMessage<Zin::Exception>(
           testing::StrEq("PD library 'libzinrt.so' has no symbol "
                          "'p4_pd_tolvex_switch_twiceNatAddrOnly_set_property'")));
   ::dlclose(other);
}

// A chip of capacity 3 holding entry `h` at (1, 2, 3), through a script of calls.
TEST_F(PdFace, RefusedCallsAnswerTheirStatusAndChangeNothing) {
   chip::Profile p;
   p.capacity = 3;
   attachChip(p);
   Hdl h = 0;
   ASSERT_EQ(addHit(MatchSpec{1, 2, 3}, HitSpec{1, 1, 1, 1, 1}, &h), 0);
   auto miss = [this](U16 vrf, U32 dip, U16 pipe = chip::kAllPipes) {
      Hdl out = 0xdead;
      Status st = addMiss(MatchSpec{vrf, dip, 3}, &out, pipe);
      EXPECT_EQ(st == 0, out != 0xdead) << "a refused add leaves the handle alone";
      return st;
   };
   struct Row {
      char const* what;
      Status want;
      std::function<Status()> call;
   } const rows[] = {
       {"duplicate key", 4, [&] { return miss(1, 2); }},
       {"other VRF is another key", 0, [&] { return miss(2, 2); }},
       {"pipe in all-pipes scope", 3, [&] { return miss(5, 5, 0); }},
       {"third entry", 0, [&] { return miss(0, 9); }},
       {"beyond capacity", 9, [&] { return miss(0, 8); }},
       {"modify unknown handle", 6, [&] { return pd->tableModifyWithOnMiss(kSess, kDev, 0xabc); }},
       {"unknown device", 3, [&] { return pd->tableDelete(kSess, kDev + 1, h); }},
       {"scope change with entries", 24, [&] { return pd->setProperty(kSess, kDev, 1, 1); }},
       {"delete", 0, [&] { return pd->tableDelete(kSess, kDev, h); }},
       {"delete twice", 6, [&] { return pd->tableDelete(kSess, kDev, h); }},
       {"read deleted handle", 6,
        [&] {
           MatchSpec m{};
           HitSpec a{};
           char name[kActionNameSize];
           uint8_t ttl = 0;
           return pd->getEntry(kSess, kDev, h, false, &m, name, &a, nullptr, &ttl);
        }},
       {"room after a delete", 0, [&] { return miss(0, 8); }},
   };
   for (auto const& r : rows)
      EXPECT_EQ(r.call(), r.want) << r.what;
   EXPECT_EQ(chip->count(), 3u);
}

// The pipes a single-pipe scope takes (an entry in a pipe is the chip index's model test);
// without the VRF field the VRF is no part of the key; the match table takes no key of the
// action-profile table beside it.
TEST_F(PdFace, ScopeAndProfileShapeTheKey) {
   chip::Profile p;
   p.vrfKeyField = false;
   p.actionProfileTable = true;
   attachChip(p);
   ASSERT_EQ(pd->setProperty(kSess, kDev, 1, 1), 0);
   Hdl h = 0;
   EXPECT_EQ(addMiss(MatchSpec{5, 1, 2}, &h, chip::kAllPipes), 3);
   EXPECT_EQ(addMiss(MatchSpec{5, 1, 2}, &h, 4), 3) << "four pipes: 0 to 3";
   ASSERT_EQ(addMiss(MatchSpec{5, 1, 2}, &h, 1), 0);
   EXPECT_EQ(addMiss(MatchSpec{6, 1, 2}, &h, 1), 4);
   std::unique_ptr<bfrt::BfRtTableKey> key;
   std::unique_ptr<bfrt::BfRtTableData> data;
   ASSERT_EQ(pd->bfRtSecondTable->keyAllocate(&key), 0);
   ASSERT_EQ(pd->bfRtTable->dataAllocate(&data), 0);
   EXPECT_EQ(pd->bfRtTable->tableEntryAdd(*pd->bfRtTableIntf->bfRtSessionGet(), {kDev, 1}, *key,
                                          *data, &h),
             3);
}

}  // namespace
}  // namespace chiptest
