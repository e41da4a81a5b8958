// Every path of programming, removal and readback: the PD calls and their arguments among the
// service calls, the handle map, and what the chip then reads back as.
#include "support/TableChecks.h"

namespace tabletest {
namespace {

std::vector<U64> concat(std::vector<U64> a, std::vector<U64> const& b) {
   a.insert(a.end(), b.begin(), b.end());
   return a;
}

struct Shape {
   bool vrf;
   U16 pipe;
};
class PdPaths : public testing::TestWithParam<Shape> {};

TEST_P(PdPaths, EveryPathCallsTheSdkAndReadsBack) {
   auto const [vrf, pipe] = GetParam();
   Rig rig({.profile = {.vrfKeyField = vrf, .bfrt = false}, .pipe = pipe});
   EXPECT_EQ(chip::journalCalls(pd("set_property")),
             (std::vector<chip::JournalCall>{
                 {pd("set_property"), {kSess, kDev, 1, pipe != kAll ? 1u : 0u}, 0}}));
   auto const key = [&](MatchC const& m) {
      return std::string(" ") += std::to_string(rig.keys->keyOf(m.ptr()));
   };

   for (unsigned t = 0; t < 3; ++t) {
      SCOPED_TRACE(kSuffix[t]);
      // The VRF goes in only where the table offers it; unset, it is programmed as 0.
      Match const m = matchOf(0x0a000001 + t, 0x0b000001, vrf ? 30 + int(t) : -1);
      rig.name(m, "m");
      U64 const v = m->l3InfoVrfId(), dip = m->outerIpv4HdrDip(), sip = m->outerIpv4HdrSip();
      Action const a = actionOf(actionType(t), 7 + t, 9 + t, 6, 1, 100 + t);
      Action const b = actionOf(actionType(t + 1), 17 + t, 19 + t, 5, 0, 110 + t);
      MatchC const readAs = matchOf(dip, sip, int(v));

      // Add: the key before the SDK call, the status after it.
      V got = rig.timelineOf([&] { rig.program(m, a); });
      Hdl const h = rig.handles().entry(m);
      EXPECT_EQ(got, (V{"alloc" + key(m) + " m",
                        call(pd(std::string("table_add_with_") + kSuffix[t]),
                             concat({kSess, kDev, pipe, v, dip, sip}, actionArgs(*a))),
                        "initStatus m"}));
      EXPECT_NE(h, 0u);
      EXPECT_EQ(describe(rig.table->entry(m)), describe(readAs, a));
      EXPECT_EQ(describe(rig.table->entryByHandle(h)), describe(readAs, a));

      // Modify to the next action: same handle, no key, fresh status.
      got = rig.timelineOf([&] { rig.program(m, b); });
      EXPECT_EQ(got, (V{call(pd(std::string("table_modify_with_") + kSuffix[(t + 1) % 3]),
                             concat({kSess, kDev, h}, actionArgs(*b))),
                        "initStatus m"}));
      EXPECT_EQ(rig.handles().entry(m), h);
      EXPECT_EQ(describe(rig.table->entry(m)), describe(readAs, b));

      // Default: the key only at the first setting; the SDK's handle is recorded.
      got = rig.timelineOf([&] { rig.program(rig.dflt(), a); });
      V want{call(pd(std::string("set_default_action_") + kSuffix[t]),
                  concat({kSess, kDev, pipe}, actionArgs(*a))),
             "initStatus dflt"};
      if (t == 0) want.insert(want.begin(), "alloc" + key(rig.dflt()) + " dflt");
      EXPECT_EQ(got, want);
      EXPECT_EQ(rig.handles().entry(rig.dflt()), chip::Chip::defaultHandle(pipe));
      EXPECT_EQ(describe(rig.table->entry(rig.dflt())), describe(matchOf(0, 0, 0), a));

      // Delete: the status is reset before the SDK call; the key stays for the agent to free.
      got = rig.timelineOf([&] { rig.table->entryDel(m); });
      EXPECT_EQ(got, (V{"initStatus m", call(pd("table_delete"), {kSess, kDev, h})}));
      EXPECT_FALSE(rig.handles().entryHas(m));
      EXPECT_TRUE(rig.table->entry(m).empty());
      EXPECT_TRUE(rig.table->entryByHandle(h).empty());
      EXPECT_NE(rig.keys->release(m.ptr()), 0u);
   }

   // Reset of the default entry: the target, no handle.
   EXPECT_EQ(rig.timelineOf([&] { rig.table->entryDel(rig.dflt()); }),
             (V{"initStatus dflt", call(pd("table_reset_default_entry"), {kSess, kDev, pipe})}));
   EXPECT_FALSE(rig.handles().entryHas(rig.dflt()));
   EXPECT_EQ(rig.chip->count(), 0u);
   EXPECT_EQ(rig.chip->defaultAction(pipe).action, chip::Action::onMiss);
}

INSTANTIATE_TEST_SUITE_P(Shapes, PdPaths,
                         testing::Values(Shape{true, kAll}, Shape{false, kAll}, Shape{true, 2},
                                         Shape{false, 0}));

}  // namespace
}  // namespace tabletest
