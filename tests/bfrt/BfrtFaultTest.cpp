// Every BfRt call of binding, programming, removal and readback, failing with each status.
#include "BfTwiceNatAddrOnly/table/SdkStatus.h"
#include "BfTwiceNatAddrOnly/table/TableExceptions.h"
#include "BfrtFixture.h"

namespace bfrttest {
namespace {

enum class Phase { bind, add, modify, firstDefault, remove, removeDefault, readback };

struct FaultRow {
   char const* op;
   Phase phase;
   // Entry-operation label; null for the rule of every other call, "" where no exception is
   // due (the ignored device target, and a failed read, which gives the empty entry).
   char const* label;
};

// The calls of each phase that follow the call rule, then the phase's other calls.
std::vector<FaultRow> rows() {
   std::vector<FaultRow> r;
   auto calls = [&](Phase ph, std::initializer_list<char const*> ops) {
      for (char const* op : ops)
         r.push_back({op, ph, nullptr});
   };
   calls(Phase::bind,
         {"tableTypeGet", "keyAllocate", "keyReset", "dataAllocate", "attributeAllocate",
          "attributes.entryScopeParamsSet", "tableAttributesSet"});
   calls(Phase::add, {"key.setValue", "dataAllocate", "dataReset", "data.setValue"});
   calls(Phase::modify, {"dataAllocate", "dataReset", "data.setValue"});
   calls(Phase::firstDefault, {"dataReset", "data.setValue"});
   calls(Phase::readback,
         {"keyReset", "dataReset", "data.actionIdGet", "key.getValue", "data.getValue"});
   r.insert(
       r.end(),
       {{"devTargetSet", Phase::bind, ""},
        {"tableEntryAdd", Phase::add, "twiceNatAddrOnly_tableEntryAdd"},
        {"tableEntryModByHandle", Phase::modify, "twiceNatAddrOnly_tableEntryMod"},
        {"tableDefaultEntrySet", Phase::firstDefault, "twiceNatAddrOnly_tableDefaultEntrySet"},
        {"tableEntryDelByHandle", Phase::remove, "twiceNatAddrOnly_tableEntryDel"},
        {"tableDefaultEntryReset", Phase::removeDefault, "twiceNatAddrOnly_tableDefaultEntryReset"},
        {"tableEntryGet", Phase::readback, ""}});
   return r;
}

struct Thrown {
   std::string cls;
   I32 status = 0;
   std::string what;
   bool operator==(Thrown const&) const = default;
   friend void PrintTo(Thrown const& t, std::ostream* os) {
      *os << t.cls << " " << t.status << " \"" << t.what << "\"";
   }
};

template <class F>
Thrown thrownBy(F&& f) {
   using namespace BfTable;
   // The privately derived classes first: a BfTableException handler does not receive them.
   try {
      f();
   } catch (BfTryAgain const& e) {
      return {"BfTryAgain", e.status, e.what()};
   } catch (BfDuplicateEntry const& e) {
      return {"BfDuplicateEntry", e.status, e.what()};
   } catch (BfNotSupported const& e) {
      return {"BfNotSupported", e.status, e.what()};
   } catch (BfTableFull const& e) {
      return {"BfTableFull", e.status, e.what()};
   } catch (BfNoSysResources const& e) {
      return {"BfNoSysResources", e.status, e.what()};
   } catch (BfTableException const& e) {
      return {"BfTableException", e.status, e.what()};
   }
   return {};
}

Thrown expected(char const* label, I32 st) {
   if (label && !*label) return {};
   if (!label) {
      return {st == 10 ? "BfTryAgain" : "BfTableException", st,
              std::string("BFRT call failed: ") + sdkStatusText(st)};
   }
   char const* cls = st == 9    ? "BfTableFull"
                     : st == 2  ? "BfNoSysResources"
                     : st == 17 ? "BfNotSupported"
                     : st == 4  ? "BfDuplicateEntry"
                                : "BfTableException";
   return {cls, st, std::string(label) + "() failed: " + sdkStatusText(st)};
}

TEST_F(BfrtFixture, EveryCallFailsByItsRuleAndUndoesItsKey) {
   for (FaultRow const& row : rows()) {
      for (I32 st : {2, 3, 4, 6, 9, 10, 17, 26, 27, -1}) {
         SCOPED_TRACE(testing::Message()
                      << row.op << " phase " << int(row.phase) << " status " << st);
         open({.capacity = 256});
         Match m1 = matchOf(1, 1), m2 = matchOf(2, 2);
         TwiceNatAddrOnlyMatchSpec::PtrConst const dflt = table_->defaultMatchSpecIs();
         // Read back a hit action, so that its data fields are read.
         program(m1, actionOf(row.phase == Phase::readback ? twiceNatAddrOnlyHitActionSpec
                                                           : onMissActionSpec));
         if (row.phase == Phase::removeDefault) program(dflt, actionOf(onMissActionSpec));
         U32 const h1 = handles().entry(m1);
         U64 const keysBefore = keys_->size();
         TwiceNatAddrOnlyMatchSpec::PtrConst subject = m1;
         TwiceNatAddrOnlyTableEntry read;
         auto act = [&] {
            switch (row.phase) {
               case Phase::bind:
                  return table_->initializeTable(table_->helper());
               case Phase::add:
                  subject = m2;
                  return program(m2, actionOf(twiceNatAddrOnlyHitActionSpec, 1, 2, 3, 4, 5));
               case Phase::modify:
                  return program(m1, actionOf(twiceNatAddrOnlyHitEcmpActionSpec, 1, 2, 3, 4, 5));
               case Phase::firstDefault:
                  subject = dflt;
                  return program(dflt, actionOf(twiceNatAddrOnlyHitActionSpec, 1, 2, 3, 4, 5));
               case Phase::remove:
                  return table_->entryDel(m1);
               case Phase::removeDefault:
                  subject = dflt;
                  return table_->entryDel(dflt);
               case Phase::readback:
                  read = table_->entry(m1);
            }
         };
         mark();
         chip::faultIs(row.op, st);
         EXPECT_EQ(thrownBy(act), expected(row.label, st));
         chip::faultsClear();
         EXPECT_EQ(chip::journalCalls(row.op).at(0).status, st);

         // A key allocated by the failed call is freed; only removal resets the status first.
         EXPECT_EQ(keys_->size(), keysBefore);
         int allocs = 0, frees = 0, inits = 0;
         for (auto const& [at, ev] : log_.events) {
            allocs += ev.starts_with("alloc"), frees += ev.starts_with("free");
            inits += ev == "initStatus";
         }
         EXPECT_EQ(allocs, frees);
         bool const removal = row.phase == Phase::remove || row.phase == Phase::removeDefault;
         EXPECT_EQ(inits, removal ? 1 : 0);
         if (row.phase != Phase::bind && row.phase != Phase::readback) {
            EXPECT_EQ(handles().entryHas(subject), row.phase == Phase::modify);
         }
         EXPECT_EQ(handles().entry(m1), removal && subject == m1 ? 0 : h1);
         EXPECT_TRUE(read.empty());
         TearDown();
      }
   }
}

}  // namespace
}  // namespace bfrttest
