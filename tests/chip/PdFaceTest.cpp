// The PD face, through the functions that the PD interface object bound from the loaded
// SDK library.
#include <functional>
#include <set>

#include "ChipFixture.h"

namespace chiptest {
namespace {

using PdFace = ChipFixture;

TEST_F(PdFace, HandlesAreNonZeroUniqueAndNeverReused) {
   attachChip();
   std::set<Hdl> seen;
   for (U32 i = 0; i < 50; ++i) {
      Hdl h = 0;
      ASSERT_EQ(addHit(match(1, 0x0a000000 + i, 7), hit(1, 2, 3, 4, 5), &h), 0);
      EXPECT_NE(h, 0u);
      EXPECT_TRUE(seen.insert(h).second) << h;
   }
   Hdl first = *seen.begin();
   auto spec = hit(9, 9, 9, 9, 9);
   ASSERT_EQ(pd->tableModifyWithTwiceNatAddrOnlyHit(kSess, kDev, first, &spec), 0);
   ASSERT_EQ(pd->tableModifyWithOnMiss(kSess, kDev, first), 0);
   EXPECT_EQ(read(first).action, "p4_pd_tolvex_switch_onMiss");
   ASSERT_EQ(pd->tableDelete(kSess, kDev, first), 0);
   Hdl again = 0;
   ASSERT_EQ(addMiss(match(1, 0x0a000000, 7), &again), 0);
   EXPECT_TRUE(seen.insert(again).second) << "handle " << again << " came back";
   EXPECT_EQ(chip->count(), 50u);
}

TEST_F(PdFace, ReadBackReturnsWhatWasProgrammed) {
   attachChip();
   Hdl h1 = 0, h3 = 0;
   ASSERT_EQ(addHit(match(12, 0xc0a80001, 0x0a0a0a0a), hit(7, 9, 17, 0, 100), &h1), 0);
   ASSERT_EQ(addMiss(match(3, 4, 5), &h3), 0);

   Read r = read(h1);
   ASSERT_EQ(r.status, 0);
   EXPECT_EQ(r.action, "p4_pd_tolvex_switch_twiceNatAddrOnlyHit");
   EXPECT_EQ(r.m.l3InfoVrfId, 12);
   EXPECT_EQ(r.m.outerIpv4HdrDip, 0xc0a80001u);
   EXPECT_EQ(r.m.outerIpv4HdrSip, 0x0a0a0a0au);
   EXPECT_EQ(r.a.action_keyId, 7);
   EXPECT_EQ(r.a.action_rwId, 9);
   EXPECT_EQ(r.a.action_prot, 17);
   EXPECT_EQ(r.a.action_frag, 0);
   EXPECT_EQ(r.a.action_nextHop, 100);

   r = read(h3);
   EXPECT_EQ(r.action, "p4_pd_tolvex_switch_onMiss");
   EXPECT_EQ(r.a.action_keyId, 0);
}

// Each case runs on a fresh chip holding one entry (handle `h`) at key (1, 2, 3).
struct StatusCase {
   char const* name;
   Status expected;
   std::function<Status(ChipFixture&, Hdl)> call;
};

class PdStatus : public ChipFixture, public testing::WithParamInterface<StatusCase> {};

TEST_P(PdStatus, Answers) {
   attachChip();
   Hdl h = 0;
   ASSERT_EQ(addHit(match(1, 2, 3), hit(1, 1, 1, 1, 1), &h), 0);
   EXPECT_EQ(GetParam().call(*this, h), GetParam().expected);
}

Status addMissAt(ChipFixture& f, MatchSpec m, U16 pipe = kAll) {
   Hdl h = 0xdead;
   Status st = f.addMiss(m, &h, pipe);
   if (st != 0) {
      EXPECT_EQ(h, 0xdeadu) << "a refused add leaves the handle alone";
   }
   return st;
}

HitSpec const kSpec = hit(1, 2, 3, 4, 5);
INSTANTIATE_TEST_SUITE_P(
    Cases, PdStatus,
    testing::Values(
        StatusCase{"DuplicateKey", 4,
                   [](ChipFixture& f, Hdl) { return addMissAt(f, match(1, 2, 3)); }},
        StatusCase{"OtherVrfIsAnotherKey", 0,
                   [](ChipFixture& f, Hdl) { return addMissAt(f, match(2, 2, 3)); }},
        StatusCase{"PipeInAllPipesScope", 3,
                   [](ChipFixture& f, Hdl) { return addMissAt(f, match(5, 5, 5), 0); }},
        StatusCase{"ModifyUnknownHandle", 6,
                   [](ChipFixture& f, Hdl h) {
                      return f.pd->tableModifyWithTwiceNatAddrOnlyHit(kSess, kDev, h + 1, &kSpec);
                   }},
        StatusCase{"DeleteUnknownHandle", 6,
                   [](ChipFixture& f, Hdl) { return f.pd->tableDelete(kSess, kDev, 0); }},
        StatusCase{"DeleteTwice", 6,
                   [](ChipFixture& f, Hdl h) {
                      EXPECT_EQ(f.pd->tableDelete(kSess, kDev, h), 0);
                      return f.pd->tableDelete(kSess, kDev, h);
                   }},
        StatusCase{"ReadUnknownHandle", 6,
                   [](ChipFixture& f, Hdl h) { return f.read(h + 1).status; }},
        StatusCase{"ReadDeletedHandle", 6,
                   [](ChipFixture& f, Hdl h) {
                      EXPECT_EQ(f.pd->tableDelete(kSess, kDev, h), 0);
                      return f.read(h).status;
                   }},
        StatusCase{"UnknownDevice", 3,
                   [](ChipFixture& f, Hdl h) { return f.pd->tableDelete(kSess, kDev + 1, h); }},
        StatusCase{"UnknownProperty", 3,
                   [](ChipFixture& f, Hdl) { return f.pd->setProperty(kSess, kDev, 2, 0); }},
        StatusCase{"BadScopeValue", 3,
                   [](ChipFixture& f, Hdl) { return f.pd->setProperty(kSess, kDev, 1, 2); }},
        StatusCase{"ScopeChangeWithEntries", 24,
                   [](ChipFixture& f, Hdl) { return f.pd->setProperty(kSess, kDev, 1, 1); }},
        StatusCase{"SameScopeWithEntries", 0,
                   [](ChipFixture& f, Hdl) { return f.pd->setProperty(kSess, kDev, 1, 0); }}),
    [](auto const& info) { return std::string(info.param.name); });

TEST_F(PdFace, CapacityIsEnforcedAndFreedByDelete) {
   chip::Profile p;
   p.capacity = 3;
   attachChip(p);
   Hdl h[4] = {};
   for (U32 i = 0; i < 3; ++i)
      ASSERT_EQ(addMiss(match(0, i, i), &h[i]), 0);
   Hdl untouched = 0xdead;
   EXPECT_EQ(addMiss(match(0, 9, 9), &untouched), 9);
   EXPECT_EQ(untouched, 0xdeadu);
   EXPECT_EQ(addMiss(match(0, 1, 1), &h[3]), 4) << "a duplicate is refused as such";
   ASSERT_EQ(pd->tableDelete(kSess, kDev, h[1]), 0);
   EXPECT_EQ(addMiss(match(0, 9, 9), &h[3]), 0);
   EXPECT_EQ(chip->count(), 3u);
   EXPECT_EQ(read(h[0]).m.outerIpv4HdrDip, 0u);
   EXPECT_EQ(read(h[2]).m.outerIpv4HdrDip, 2u);
   EXPECT_EQ(read(h[3]).m.outerIpv4HdrDip, 9u);
}

TEST_F(PdFace, SinglePipeScopeKeepsEntriesPerPipe) {
   attachChip();
   ASSERT_EQ(pd->setProperty(kSess, kDev, 1, 1), 0);
   EXPECT_EQ(chip->scope(), chip::Scope::singlePipe);
   Hdl h = 0;
   EXPECT_EQ(addMiss(match(1, 1, 1), &h, kAll), 3);
   EXPECT_EQ(addMiss(match(1, 1, 1), &h, 4), 3) << "four pipes: 0 to 3";
   Hdl hp[4] = {};
   for (U16 p = 0; p < 4; ++p)
      ASSERT_EQ(addHit(match(1, 1, 1), hit(p, 0, 0, 0, 0), &hp[p], p), 0);
   EXPECT_EQ(addMiss(match(1, 1, 1), &h, 2), 4);
   for (U16 p = 0; p < 4; ++p) {
      auto es = chip->entries(p);
      ASSERT_EQ(es.size(), 1u);
      EXPECT_EQ(es[0].handle, hp[p]);
      EXPECT_EQ(es[0].act.params[0], p);
   }
   // Handle-only operations find the entry in whichever pipe holds it.
   EXPECT_EQ(read(hp[2]).a.action_keyId, 2);
   ASSERT_EQ(pd->tableDelete(kSess, kDev, hp[2]), 0);
   EXPECT_EQ(chip->count(2), 0u);
   EXPECT_EQ(chip->count(), 3u);
   EXPECT_EQ(pd->setProperty(kSess, kDev, 1, 0), 24);
}

TEST_F(PdFace, DefaultEntryKeepsItsHandleAndResetsToOnMiss) {
   attachChip();
   Hdl h1 = 0, h2 = 0, h3 = 0;
   ASSERT_EQ(pd->setDefaultActionOnMiss(kSess, tgt(), &h1), 0);
   auto a = hit(4, 5, 6, 7, 8);
   ASSERT_EQ(pd->setDefaultActionTwiceNatAddrOnlyHit(kSess, tgt(), &a, &h2), 0);
   HitEcmpSpec e{1, 2, 3, 4, 5};
   ASSERT_EQ(pd->setDefaultActionTwiceNatAddrOnlyHitEcmp(kSess, tgt(), &e, &h3), 0);
   EXPECT_NE(h1, 0u);
   EXPECT_NE(h1, ~0u);
   EXPECT_EQ(h1, h2);
   EXPECT_EQ(h1, h3);
   Read r = read(h1);
   EXPECT_EQ(r.action, "p4_pd_tolvex_switch_twiceNatAddrOnlyHitEcmp");
   EXPECT_EQ(r.a.action_nextHop, 5);
   EXPECT_EQ(r.m.outerIpv4HdrDip, 0u);
   EXPECT_EQ(pd->tableDelete(kSess, kDev, h1), 6) << "the default is not deleted by handle";
   EXPECT_EQ(pd->setProperty(kSess, kDev, 1, 1), 24) << "a set default pins the scope";
   ASSERT_EQ(pd->tableResetDefaultEntry(kSess, tgt()), 0);
   EXPECT_EQ(read(h1).action, "p4_pd_tolvex_switch_onMiss");
   EXPECT_EQ(chip->count(), 0u);

   // Single-pipe scope: one default per pipe, each with its own handle.
   ASSERT_EQ(pd->setProperty(kSess, kDev, 1, 1), 0);
   EXPECT_EQ(read(h1).status, 6) << "the all-pipes default is out of scope";
   Hdl p0 = 0, p1 = 0;
   ASSERT_EQ(pd->setDefaultActionTwiceNatAddrOnlyHit(kSess, tgt(0), &a, &p0), 0);
   ASSERT_EQ(pd->setDefaultActionOnMiss(kSess, tgt(1), &p1), 0);
   EXPECT_NE(p0, p1);
   EXPECT_EQ(read(p0).a.action_keyId, 4);
   EXPECT_EQ(chip->defaultAction(0).action, chip::Action::hit);
   EXPECT_EQ(chip->defaultAction(1).action, chip::Action::onMiss);
   EXPECT_EQ(pd->tableResetDefaultEntry(kSess, tgt()), 3);
}

TEST_F(PdFace, TableWithoutVrfFieldIgnoresTheVrf) {
   chip::Profile p;
   p.vrfKeyField = false;
   attachChip(p);
   EXPECT_EQ(pd->optionalFieldsIndication, 0u);
   Hdl h = 0, h2 = 0;
   ASSERT_EQ(addMiss(match(5, 1, 2), &h), 0);
   EXPECT_EQ(addMiss(match(6, 1, 2), &h2), 4);
   EXPECT_EQ(read(h).m.l3InfoVrfId, 0);
}

}  // namespace
}  // namespace chiptest
