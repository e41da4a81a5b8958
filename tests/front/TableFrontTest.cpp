// The entry model and the table front: the read-only marks of the match spec, identity of entries
// and the counts they take, the lookup, the generic attribute interface over an entry, the handle
// map, the helper and the table, the checks that stop the process, and status texts. (Class,
// message and status of every outcome by rule, and which handlers receive them, are checked by
// the fault sweeps of both back ends; the map's keys by identity and their counts by the identity
// map's random run.)
#include <gtest/gtest.h>

#include <tuple>
#include <vector>

#include "BfTwiceNatAddrOnly/entry/TwiceNatAddrOnlyTableEntry.h"
#include "BfTwiceNatAddrOnly/pd/TwiceNatAddrOnlyTablePd.h"
#include "BfTwiceNatAddrOnly/table/SdkStatus.h"
#include "BfTwiceNatAddrOnly/table/TwiceNatAddrOnlyTableHelper.h"
#include "support/TableRig.h"

using namespace BfTwiceNatAddrOnly;

namespace {

constexpr char kSource[] = "bf_tolvex_switch/zin/BfTwiceNatAddrOnly/BfTwiceNatAddrOnly";

TEST(MatchSpecDeathTest, ReadOnlyMarksStopTheProcess) {
   auto m = twiceNatAddrOnlyMatchSpecFactory();
   EXPECT_DEATH(m->isSetIs(1),
                std::string(kSource) + ":[0-9]+: " +
                    "void BfTwiceNatAddrOnly::TwiceNatAddrOnlyMatchSpec::isSetIs\\(U64\\): "
                    "Assertion `0' failed");
   EXPECT_DEATH(Zin::attributeIs(*m, "l3InfoVrfIdIsSet", Zin::Value::boolean(true)),
                "l3InfoVrfIdIsSetIs\\(bool\\): Assertion `0' failed");
}

// Entries are equal when they hold the same spec objects (unequal ones are the readback tests').
TEST(TableEntry, CopiesShareTheirSpecsAndByNameRefuseMatch) {
   auto m = twiceNatAddrOnlyMatchSpecFactory();
   Zin::Value v = Zin::valueOf(TwiceNatAddrOnlyTableEntry(m));
   EXPECT_THROW(Zin::valueAttributeIs(v, "match", Zin::valueOf(m)),
                Zin::AttributeReadOnlyException);
   auto a = twiceNatAddrOnlyHitActionSpecFactory();
   EXPECT_THROW(Zin::attributeIs(*a, "prot", Zin::Value::number(256)), Zin::RangeException);
   EXPECT_THROW(Zin::attributeIs(*a, "prot", Zin::Value::string("8")), Zin::ValueTypeException);
   Zin::valueAttributeIs(v, "action", Zin::valueOf(a));
   auto const e = Zin::valueAs<TwiceNatAddrOnlyTableEntry>(v);
   EXPECT_TRUE(isEq(e, Zin::valueAs<TwiceNatAddrOnlyTableEntry>(v)) && e.action() == a);
   EXPECT_EQ(m->references() + a->references(), 6u);  // here, in the value and in the copy
   EXPECT_EQ(Zin::valueAs<TwiceNatAddrOnlyMatchSpec::PtrConst>(Zin::valueAttribute(v, "match")), m);
   EXPECT_THROW(Zin::valueAttributeIs(v, "action", Zin::valueOf(m)), Zin::ValueTypeException);
   EXPECT_THROW(Zin::valueHash(v), Zin::UnhashableTypeException);
}

TEST(Handles, CollectionByName) {
   auto map = TwiceNatAddrOnlyTableHandles::TwiceNatAddrOnlyTableHandlesIs();
   auto m = twiceNatAddrOnlyMatchSpecFactory();
   Zin::collectionEntryIs(*map, "entry", Zin::valueOf(m), Zin::Value::number(42));
   EXPECT_TRUE(Zin::collectionEntryHas(*map, "entry", Zin::valueOf(m)));
   EXPECT_EQ(Zin::collectionEntry(*map, "entry", Zin::valueOf(m)).asNumber(), 42u);
   EXPECT_EQ(Zin::collectionSize(*map, "entry"), 1u);
   auto pairs = Zin::collectionEntries(*map, "entry");
   ASSERT_EQ(pairs.size(), 1u);
   EXPECT_EQ(pairs[0].first.asObject().ptr(), m.ptr());
   // A key of another class is refused, not taken as some other key.
   EXPECT_THROW(Zin::collectionEntryIs(*map, "entry", Zin::valueOf(onMissActionSpecFactory()),
                                       Zin::Value::number(1)),
                Zin::ValueTypeException);
   Zin::collectionEntryDel(*map, "entry", Zin::valueOf(m));
   EXPECT_EQ(map->entries(), 0u);
}

TEST(Helper, AttributesByName) {
   auto helper = TwiceNatAddrOnlyTableHelper::TwiceNatAddrOnlyTableHelperIs(7, 2);
   EXPECT_EQ(Zin::attribute(*helper, "deviceId").asNumber(), 7u);
   EXPECT_EQ(Zin::attribute(*helper, "devPipeId").asNumber(), 2u);
   Zin::Value made = Zin::attributeInstantiate(*helper, "sdkHandles");
   EXPECT_EQ(made.asObject().ptr(), helper->sdkHandles().ptr());
   EXPECT_TRUE(Zin::attributeDel(*helper, "sdkHandles").asObject() == made.asObject() &&
               !helper->sdkHandles());
   EXPECT_THROW(Zin::attributeDel(*helper, "deviceId"), Zin::AttributeReadOnlyException);
   // The PD interface object is bound by name from the library's path, handle and session.
   EXPECT_THROW(Zin::attributeInstantiate(*helper, "pdLib"), Zin::ValueTypeException);
   Zin::Value pd = Zin::attributeInstantiate(
       *helper, "pdLib",
       {Zin::Value::string(tabletest::kSdkPath),
        Zin::Value::number(reinterpret_cast<std::uintptr_t>(tabletest::sdkHandle())),
        Zin::Value::number(tabletest::kSess)});
   EXPECT_TRUE(pd.asObject() && Zin::attribute(*helper, "pdLib").asObject() == pd.asObject());
   EXPECT_TRUE(Zin::attributeDel(*helper, "pdLib").asObject() == pd.asObject() && !helper->pdLib());
}

// A back end that records the handles it is asked to read back.
class RecordingTable : public TwiceNatAddrOnlyTable {
 public:
   using TwiceNatAddrOnlyTable::TwiceNatAddrOnlyTable;
   TwiceNatAddrOnlyTableEntry entryByHandle(BfnTable::BfnSdkEntryHandle h) const override {
      asked.push_back(h);
      return TwiceNatAddrOnlyTableEntry();
   }
   mutable std::vector<U32> asked;
   ZIN_ALLOCATED(RecordingTable)
};

// A spec held under handle 0 is still read back, also when called by name; a spec not held is not.
TEST(Lookup, ReadsBackEverySpecTheMapHolds) {
   auto helper = twiceNatAddrOnlyTableHelperFactory(0, 0xFFFF);
   auto zero = twiceNatAddrOnlyMatchSpecFactory();
   helper->sdkHandlesIs()->entryIs(zero, 0);
   Pemra::Ptr<RecordingTable> table = new RecordingTable(helper, nullptr, nullptr, 0);
   EXPECT_TRUE(table->entry(twiceNatAddrOnlyMatchSpecFactory()).empty());
   table->entry(zero);
   Zin::operationCall(*table, "entry", {Zin::valueOf(zero)});
   auto const byHandle = Zin::operationCall(*table, "entryByHandle", {Zin::Value::number(9)});
   EXPECT_TRUE(Zin::valueAs<TwiceNatAddrOnlyTableEntry>(byHandle).empty());
   EXPECT_EQ(table->asked, (std::vector<U32>{0, 0, 9}));
   // A call by name with a wrong count or kind of argument, or of a name that is no operation.
   for (auto const& args : {std::vector<Zin::Value>{}, {Zin::Value::string("9")}})
      EXPECT_THROW(Zin::operationCall(*table, "entryByHandle", args), Zin::ValueTypeException);
   EXPECT_THROW(Zin::operationCall(*table, "useBfRt", {}), Zin::AttributeNotFoundException);
   EXPECT_THROW(Zin::attribute(*table, "entry"), Zin::AttributeNotFoundException);
   EXPECT_THROW(Zin::attributeIs(*table, "nope", Zin::Value()), Zin::AttributeNotFoundException);
}

TEST(TableAttributes, ReadOnlyAndPointerAttributesByName) {
   auto helper = twiceNatAddrOnlyTableHelperFactory(0, 0xFFFF);
   auto table = twiceNatAddrOnlyTablePdFactory(helper, nullptr, nullptr, 1);
   EXPECT_EQ(Zin::attribute(*table, "supportedOptionalFields").asNumber(), 1u);
   EXPECT_THROW(Zin::attributeIs(*table, "supportedOptionalFields", Zin::Value::number(0)),
                Zin::AttributeReadOnlyException);
   Zin::attributeIs(*table, "useBfRt", Zin::Value::boolean(false));
   EXPECT_FALSE(table->useBfRt());
   Zin::Value d = Zin::attributeInstantiate(*table, "defaultMatchSpec");
   EXPECT_EQ(d.asObject().ptr(), table->defaultMatchSpec().ptr());
   EXPECT_EQ(Zin::attributeDel(*table, "defaultMatchSpec").asObject().ptr(), d.asObject().ptr());
}

TEST(TableDeathTest, BaseOperationsAndPreconditionsStopTheProcess) {
   auto helper = twiceNatAddrOnlyTableHelperFactory(0, 0xFFFF);
   helper->sdkHandlesIs();
   auto table = twiceNatAddrOnlyTableFactory(helper, nullptr, nullptr, 0);
   auto base = [](std::string const& op) {
      return "Assertion `0 && \"base TwiceNatAddrOnlyTable::" + op + "\\(\\) called\"' failed";
   };
   EXPECT_DEATH(table->entryIs(TwiceNatAddrOnlyTableEntry()),
                std::string(kSource) + ":[0-9]+: virtual void " +
                    "BfTwiceNatAddrOnly::TwiceNatAddrOnlyTable::entryIs.*" + base("entryIs"));
   EXPECT_DEATH(table->entryDel(nullptr), base("entryDel"));
   EXPECT_DEATH(table->entryIsReported(TwiceNatAddrOnlyTableEntry()), base("entryIsReported"));
   EXPECT_DEATH(table->entryByHandle(1), base("entryByHandle"));
   EXPECT_DEATH(Zin::operationCall(*table, "initializeTable", {Zin::valueOf(helper)}),
                base("initializeTable"));
   EXPECT_DEATH(::twiceNatAddrOnlyTableFactory(nullptr, nullptr, nullptr, 0, 0, 0xFFFF, ""),
                "twiceNatAddrOnlyTableFactory.*Assertion `pdLibPath' failed");
}

// What a programming reports on either back end: the path it took, the handle the SDK gave the
// entry and the key it allocated; and an entry the chip holds taken in by its handle.
TEST(Report, PathHandleAndKeyOfEachProgrammingAndAnEntryTakenInByHandle) {
   using Path = TwiceNatAddrOnlyTable::Programming::Path;
   for (bool bfrt : {false, true}) {
      SCOPED_TRACE(bfrt ? "BfRt" : "PD");
      tabletest::Rig rig({.profile = {.bfrt = bfrt}});
      auto report = [&](tabletest::MatchC const& m, unsigned type) {
         auto const r = rig.table->entryIsReported(
             tabletest::entryOf(m, tabletest::actionOf(tabletest::actionType(type))));
         return std::tuple(r.path, r.sdkHandle, r.key);
      };
      tabletest::MatchC const m = tabletest::matchOf(1, 2, 3), d = rig.dflt();
      U32 const handle = std::get<1>(report(m, 1));
      EXPECT_EQ(handle, rig.handles().entry(m));
      EXPECT_EQ(report(m, 2), std::tuple(Path::modified, handle, U64(0)));
      U64 const key = rig.keys->keyOf(m.ptr());
      rig.table->entryDel(m), rig.keys->release(m.ptr());
      auto const again = report(m, 0);
      EXPECT_EQ(std::get<0>(again), Path::added);
      EXPECT_EQ(std::get<2>(again), key) << "the lowest free key, given back by the removal";
      auto const first = report(d, 1);
      EXPECT_EQ(first,
                std::tuple(Path::defaultSet, rig.handles().entry(d), rig.keys->keyOf(d.ptr())));
      EXPECT_EQ(report(d, 2), std::tuple(Path::defaultSet, std::get<1>(first), U64(0)));

      // The library forgets the entry; taken in again under the key its record holds.
      U32 const now = rig.handles().entry(m);
      U64 const held = rig.keys->keyOf(m.ptr());
      rig.keys->recordHandleIs(held, now);
      rig.handles().entryDel(m);
      auto const read = rig.table->resyncedEntryIs(held, now);
      ASSERT_TRUE(read.match());
      EXPECT_EQ(rig.handles().entry(read.match()), now);
      EXPECT_EQ(rig.keys->keyOf(read.match().ptr()), held);
      EXPECT_FALSE(rig.table->resyncedEntryIs(held, now + 99).match()) << "no such entry";
      EXPECT_EQ(rig.handles().entries(), 2u) << "the entry and the default, nothing more";
   }
}

// Texts of the statuses the fault sweeps do not meet.
TEST(SdkStatus, SuccessAndTheFarEndOutsideTheKnownRange) {
   EXPECT_STREQ(sdkStatusText(0), "Success");
   EXPECT_STREQ(sdkStatusText(INT32_MIN), "Unknown error");
}

}  // namespace
