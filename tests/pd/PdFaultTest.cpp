// Every PD call of the table operations failing with each status, and the precondition checks
// that stop the process.
#include "support/FaultSweep.h"

namespace tabletest {
namespace {

std::vector<Fault> faults() {
   std::vector<Fault> f = {{pd("set_property"), "bind", 0},
                           {pd("table_delete"), "remove", 1},
                           {pd("table_reset_default_entry"), "remove default", 0},
                           // A later default setting allocates nothing.
                           {pd("set_default_action_twiceNatAddrOnlyHitEcmp"), "default again", 2}};
   for (unsigned t = 0; t < 3; ++t) {
      std::string const x = kSuffix[t];
      f.push_back({pd("table_add_with_" + x), "add", t, {}, true});
      f.push_back({pd("table_modify_with_" + x), "modify", t});
      f.push_back({pd("set_default_action_" + x), "default", t, {}, true});
   }
   for (Fault& one : f)
      one.label = one.call;
   return f;
}

class PdFaults : public testing::TestWithParam<Fault> {};

TEST_P(PdFaults, FailureThrowsByThePdRuleAndLeavesTheStateAsItWas) {
   expectFaults(kPdChip, GetParam());
}

INSTANTIATE_TEST_SUITE_P(Calls, PdFaults, testing::ValuesIn(faults()), [](auto const& info) {
   std::string const& op = info.param.op;
   return op == "default again" ? "set_default_again" : info.param.call.substr(pd("").size());
});

TEST(PdFaults, FailedCreationLeavesNothingBehind) {
   chip::faultIs(pd("set_property"), 17);
   EXPECT_THROW(Rig rig({.profile = kPdChip}), BfTable::BfNotSupported);
   // The test main checks that no table, helper, handle map or spec outlived the failure.
}

TEST(PdDeathTest, PreconditionsStopTheProcess) {
   expectDeaths(kPdChip, "Pd", "fields:  l3InfoVrfId", {});
}

}  // namespace
}  // namespace tabletest
