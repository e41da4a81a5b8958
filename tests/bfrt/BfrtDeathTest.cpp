// Precondition and contract violations stop the process with their exact texts.
#include <cstring>
#include <functional>

#include "BfTwiceNatAddrOnly/table/Diagnostics.h"
#include "BfrtFixture.h"
#include "chip/BfRtTable.h"

namespace bfrttest {
namespace {

constexpr char kEntryIs[] =
    "virtual void BfTwiceNatAddrOnly::TwiceNatAddrOnlyTableBfrt::entryIs(const "
    "BfTwiceNatAddrOnly::TwiceNatAddrOnlyTableEntry&)";
constexpr char kEntryDel[] =
    "virtual void BfTwiceNatAddrOnly::TwiceNatAddrOnlyTableBfrt::entryDel(const PtrConst&)";
constexpr char kInit[] =
    "void initBfRtTable(const BfTwiceNatAddrOnly::TwiceNatAddrOnlyTableHelper::Ptr&, "
    "BfRt::BfRtTablePtr)";

std::string escaped(std::string_view s) {
   std::string r;
   for (char c : s) {
      if (std::strchr("\\^$.|?*+()[]{}", c)) r += '\\';
      r += c;
   }
   return r;
}

// The C library's assertion line for `expr` failing in `fn`.
std::string assertion(std::string_view fn, std::string_view expr) {
   return escaped(std::string(kSourceName) + ":") +
          "[0-9]+: " + escaped(std::string(fn) + ": Assertion `" + std::string(expr) + "' failed");
}

// A match table that answers an attribute allocation with success and no object.
class NoAttributeTable : public chip::ChipBfRtTable {
 public:
   using ChipBfRtTable::ChipBfRtTable;
   Status attributeAllocate(bfrt::TableAttributesType,
                            std::unique_ptr<bfrt::BfRtTableAttributes>*) const override {
      return 0;
   }
};

struct DeathCase {
   char const* name;
   chip::Profile profile;
   std::function<void(BfrtFixture&)> statement;
   std::string pattern;
};

class BfrtDeath : public BfrtFixture {
 public:
   void run(DeathCase const& c) {
      SCOPED_TRACE(c.name);
      open(c.profile);
      EXPECT_DEATH(c.statement(*this), c.pattern);
      TearDown();
   }
   Match m = matchOf(0x01020304, 0x05060708);
};

TEST_F(BfrtDeath, ViolationsStopWithTheirTexts) {
   auto& self = *this;
   auto t = [&] { return table_; };
   auto dflt = [&] { return table_->defaultMatchSpecIs(); };
   Action const miss = actionOf(onMissActionSpec);
   Action bad = actionOf(twiceNatAddrOnlyHitActionSpec);
   bad->actionTypeIs(TwiceNatAddrOnlyActionSpecType(7));
   DeathCase const cases[] = {
       {"optional field",
        {.vrfKeyField = false},
        [&](auto&) {
           m->l3InfoVrfIdIs(3);
           self.program(m, miss);
        },
        escaped(std::string(kSourceName) + ":") + "[0-9]+: " +
            escaped(std::string(kEntryIs) +
                    ": strong assertion !mismatchedFields failed: supportedOptionalFields: 0 "
                    "isSet: 1 fields:  l3InfoVrfId\n") +
            ".*" + assertion(kEntryIs, "\"!mismatchedFields\" == nullptr")},
       {"null action",
        {},
        [&](auto&) { t()->entryIs(TwiceNatAddrOnlyTableEntry(m)); },
        assertion(kEntryIs, "entry.action() != NULL")},
       {"null match",
        {},
        [&](auto&) { self.program(nullptr, miss); },
        assertion(kEntryIs, "entry.match() != NULL")},
       {"unknown action", {}, [&](auto&) { self.program(m, bad); }, assertion(kEntryIs, "0")},
       {"not held",
        {},
        [&](auto&) { t()->entryDel(m); },
        assertion(kEntryDel, "helper()->sdkHandles()->entryHas( match )")},
       {"held with handle 0",
        {},
        [&](auto&) {
           self.handles().entryIs(m, 0);
           t()->entryDel(m);
        },
        assertion(kEntryDel, "!!entry_hdl")},
       {"default handle changed",
        {},
        [&](auto&) {
           self.program(dflt(), miss);
           self.handles().entryIs(dflt(), 42);
           self.program(dflt(), miss);
        },
        assertion(kEntryIs, "entry_hdl == default_hdl")},
       {"no scope attribute",
        {},
        [&](auto&) {
           NoAttributeTable table(*chip_, kDev, bfrt::BfRtTable::TableType::MATCH_DIRECT);
           ::initBfRtTable(t()->helper(), &table);
        },
        assertion(kInit, "tableAttrScope")},
   };
   for (DeathCase const& c : cases)
      run(c);
}

}  // namespace
}  // namespace bfrttest
