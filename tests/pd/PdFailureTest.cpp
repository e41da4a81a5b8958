// Every PD call of the table operations failing with each status, and the precondition checks
// that stop the process.
#include <functional>
#include <typeinfo>

#include "BfTwiceNatAddrOnly/table/TableExceptions.h"
#include "PdRig.h"

namespace pdtest {
namespace {

struct Thrown {
   std::type_info const* cls = &typeid(void);
   I32 status = 0;
   std::string message;
   bool viaBase = false;  // a handler of BfTableException received it
};

Thrown thrownBy(std::function<void()> const& op) {
   Thrown t;
   try {
      try {
         op();
      } catch (BfTable::BfTableException const& e) {
         t = {&typeid(e), e.status, e.what(), true};
      }
   } catch (BfTable::BfNotSupported const& e) {
      t = {&typeid(e), e.status, e.what(), false};
   }
   return t;
}

using Op = std::function<void(Rig&, TwiceNatAddrOnlyMatchSpec::PtrConst const&)>;

Op programs(TwiceNatAddrOnlyActionSpecType type, bool toDefault = false) {
   return [=](Rig& rig, TwiceNatAddrOnlyMatchSpec::PtrConst const& m) {
      rig.program(toDefault ? rig.defaultMatch() : m, actionSpec(type, 3));
   };
}
Op const nothing = [](Rig&, TwiceNatAddrOnlyMatchSpec::PtrConst const&) {};

struct FaultCase {
   std::string function;  // suffix of the PD function that fails
   Op setup;
   Op op;
   bool allocates;          // the failing call allocated a key, which must be freed again
   bool resetsStatus;       // a removal: the status is reset before the SDK is called
   std::string label = {};  // test name, when the function alone does not tell the case
};

void PrintTo(FaultCase const& c, std::ostream* os) {
   *os << c.function;
}

std::vector<FaultCase> faultCases() {
   std::vector<FaultCase> cases = {
       {"set_property", nothing,
        [](Rig& rig, auto const&) { rig.table->initializeTable(rig.table->helper()); }, false,
        false},
       {"table_delete", programs(twiceNatAddrOnlyHitActionSpec),
        [](Rig& rig, auto const& m) { rig.table->entryDel(m); }, false, true},
       {"table_reset_default_entry", programs(onMissActionSpec, true),
        [](Rig& rig, auto const&) { rig.table->entryDel(rig.defaultMatch()); }, false, true},
       // A later default setting allocates nothing.
       {"set_default_action_twiceNatAddrOnlyHitEcmp", programs(onMissActionSpec, true),
        programs(twiceNatAddrOnlyHitEcmpActionSpec, true), false, false, "set_default_again"},
   };
   for (unsigned t = 0; t < 3; ++t) {
      auto const type = static_cast<TwiceNatAddrOnlyActionSpecType>(t);
      std::string const suffix = kActionSuffix[t];
      cases.push_back({"table_add_with_" + suffix, nothing, programs(type), true, false});
      cases.push_back({"table_modify_with_" + suffix,
                       programs(static_cast<TwiceNatAddrOnlyActionSpecType>((t + 1) % 3)),
                       programs(type), false, false});
      cases.push_back({"set_default_action_" + suffix, nothing, programs(type, true), true, false});
   }
   return cases;
}

std::type_info const& expectedClass(I32 status) {
   switch (status) {
      case 9:
         return typeid(BfTable::BfTableFull);
      case 2:
         return typeid(BfTable::BfNoSysResources);
      case 17:
         return typeid(BfTable::BfNotSupported);
      default:
         return typeid(BfTable::BfTableException);
   }
}

class PdFaults : public testing::TestWithParam<FaultCase> {};

TEST_P(PdFaults, FailureThrowsByThePdRuleAndLeavesTheStateAsItWas) {
   static std::pair<I32, char const*> const kStatuses[] = {
       {2, "No system resources"},      {3, "Invalid arguments"},
       {4, "Already exists"},           {6, "Object not found"},
       {9, "Not enough space"},         {10, "Resource temporarily not available, try again later"},
       {17, "Operation not supported"}, {26, "Hardware entry not found"},
       {27, "Unknown error"},           {-1, "Unknown error"}};
   FaultCase const& c = GetParam();
   std::string const function = pdName(c.function);
   for (auto const& [status, text] : kStatuses) {
      SCOPED_TRACE(status);
      Rig rig;
      TwiceNatAddrOnlyMatchSpec::PtrConst const m = matchSpec(0x0a0a0a0a, 0x0b0b0b0b, 12);
      c.setup(rig, m);
      auto const& dflt = rig.defaultMatch();
      auto handlesNow = [&] {
         return std::vector<U64>{rig.handles().entries(), rig.handles().entryHas(m),
                                 rig.handles().entry(m), rig.handles().entryHas(dflt),
                                 rig.handles().entry(dflt)};
      };
      std::vector<U64> const handlesBefore = handlesNow();
      U64 const keysBefore = rig.keys->size();
      U64 const statusesBefore = rig.statuses->size();
      rig.log.clear();
      chip::faultIs(function, status);

      Thrown const t = thrownBy([&] { c.op(rig, m); });
      EXPECT_TRUE(*t.cls == expectedClass(status)) << t.cls->name();
      EXPECT_EQ(t.status, status);
      EXPECT_EQ(t.message, function + "() failed: " + text);
      EXPECT_EQ(t.viaBase, status != 17);
      EXPECT_EQ(rig.lastSdkCall().name, function);
      EXPECT_EQ(rig.lastSdkCall().status, status);

      EXPECT_EQ(handlesNow(), handlesBefore);
      EXPECT_EQ(rig.keys->size(), keysBefore);
      std::vector<std::string> ops;
      for (auto const& call : rig.log)
         ops.push_back(call.op);
      using Ops = std::vector<std::string>;
      Ops const wantOps = c.allocates      ? Ops{"alloc", "free"}
                          : c.resetsStatus ? Ops{"initStatus"}
                                           : Ops{};
      EXPECT_EQ(ops, wantOps);
      if (c.allocates && rig.log.size() == 2) {
         EXPECT_EQ(rig.log[1].key, rig.log[0].key);
      }
      EXPECT_EQ(rig.statuses->size(), statusesBefore);

      // Nothing was left half done: the same request now goes through.
      EXPECT_NO_THROW(c.op(rig, m));
      EXPECT_EQ(rig.lastSdkCall().status, 0);
   }
}

INSTANTIATE_TEST_SUITE_P(Calls, PdFaults, testing::ValuesIn(faultCases()), [](auto const& info) {
   return info.param.label.empty() ? info.param.function : info.param.label;
});

TEST(PdFaults, FailedCreationLeavesNothingBehind) {
   chip::faultIs(pdName("set_property"), 17);
   EXPECT_THROW(Rig rig, BfTable::BfNotSupported);
   // The test main checks that no table, helper, handle map or spec outlived the failure.
}

// The "Assertion `<expr>' failed" line of a check, as a death-test pattern.
std::string escaped(std::string const& s) {
   std::string out;
   for (char c : s) {
      if (std::string_view("\\^$.|?*+()[]{}").find(c) != std::string_view::npos) out += '\\';
      out += c;
   }
   return out;
}
std::string assertion(std::string const& function, std::string const& expr) {
   return escaped(std::string(kSourceName) + ":") + "[0-9]+: " + escaped(function) +
          ": Assertion `" + escaped(expr) + "' failed";
}

BfPdTwiceNatAddrOnly::Status otherDefaultHandle(BfPdTwiceNatAddrOnly::Sess,
                                                BfPdTwiceNatAddrOnly::DevTarget, Hdl* hdl) {
   *hdl = 0x1234;
   return 0;
}

TEST(PdDeathTest, PreconditionsStopTheProcess) {
   std::string const entryIs =
       "virtual void BfTwiceNatAddrOnly::TwiceNatAddrOnlyTablePd::entryIs(const "
       "BfTwiceNatAddrOnly::TwiceNatAddrOnlyTableEntry&)";
   struct Case {
      char const* name;
      RigOptions options;
      std::function<void(Rig&)> op;
      std::string pattern;
   };
   Case const cases[] = {
       {"optional field",
        {.vrfKeyField = false},
        [](Rig& rig) { rig.program(matchSpec(1, 2, 0), actionSpec(onMissActionSpec)); },
        escaped(std::string(kSourceName) + ":") + "[0-9]+: " + escaped(entryIs) +
            ": strong assertion !mismatchedFields failed: supportedOptionalFields: 0 isSet: 1 "
            "fields: l3InfoVrfId\n.*" +
            assertion(entryIs, "\"!mismatchedFields\" == nullptr")},
       {"null action",
        {},
        [](Rig& rig) { rig.table->entryIs(TwiceNatAddrOnlyTableEntry(matchSpec(1, 2))); },
        assertion(entryIs, "entry.action() != NULL")},
       {"null match",
        {},
        [](Rig& rig) { rig.program(nullptr, actionSpec(onMissActionSpec)); },
        assertion(entryIs, "entry.match() != NULL")},
       {"unknown action",
        {},
        [](Rig& rig) {
           auto a = twiceNatAddrOnlyBaseActionSpecFactory();
           a->actionTypeIs(static_cast<TwiceNatAddrOnlyActionSpecType>(3));
           rig.program(matchSpec(1, 2), a);
        },
        assertion(entryIs, "0")},
       {"delete of a match not held",
        {},
        [](Rig& rig) {
           auto m = matchSpec(1, 2);
           rig.program(m, actionSpec(onMissActionSpec));
           rig.table->entryDel(matchSpec(1, 2));
        },
        assertion(
            "virtual void BfTwiceNatAddrOnly::TwiceNatAddrOnlyTablePd::entryDel(const PtrConst&)",
            "helper()->sdkHandles()->entryHas( match )")},
       {"default handle changed",
        {},
        [](Rig& rig) {
           rig.program(rig.defaultMatch(), actionSpec(onMissActionSpec));
           rig.table->helper()->pdLib()->setDefaultActionOnMiss = otherDefaultHandle;
           rig.program(rig.defaultMatch(), actionSpec(onMissActionSpec));
        },
        assertion(entryIs, "entry_hdl == default_hdl")},
       {"lookup of null",
        {},
        [](Rig& rig) { rig.table->entry(nullptr); },
        assertion("BfTwiceNatAddrOnly::TwiceNatAddrOnlyTableEntry "
                  "BfTwiceNatAddrOnly::TwiceNatAddrOnlyTable::entry(const PtrConst&) const",
                  "match != NULL")},
   };
   for (Case const& c : cases) {
      SCOPED_TRACE(c.name);
      EXPECT_DEATH(
          {
             Rig rig(c.options);
             c.op(rig);
          },
          c.pattern);
   }
}

}  // namespace
}  // namespace pdtest
