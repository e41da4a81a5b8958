// The entry model and the helper's handle map: the read-only marks of the match spec, identity of
// entries and the counts they take, and the generic attribute interface over an entry, the map
// and the helper. (The map's keys by identity and their counts are the identity map's random run;
// what the tables find in it, the paths, contract and fault tests'.)
#include <gtest/gtest.h>

#include "BfTwiceNatAddrOnly/entry/TwiceNatAddrOnlyTableEntry.h"
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
   EXPECT_DEATH(Zin::attributeIs(*m, "isSet", Zin::Value::number(1)), "isSetIs");
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
   EXPECT_THROW(Zin::attributeIs(*helper, "deviceId", Zin::Value::number(1)),
                Zin::AttributeReadOnlyException);
   Zin::Value made = Zin::attributeInstantiate(*helper, "sdkHandles");
   EXPECT_EQ(made.asObject().ptr(), helper->sdkHandles().ptr());
   Zin::Value cleared = Zin::attributeDel(*helper, "sdkHandles");
   EXPECT_EQ(cleared.asObject().ptr(), made.asObject().ptr());
   EXPECT_EQ(helper->sdkHandles(), nullptr);
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

}  // namespace
