// The helper and its handle map: identity keys, the counts the map takes and gives back,
// and the bindings that must never replace what they hold.
#include <gtest/gtest.h>

#include "BfTwiceNatAddrOnly/entry/TwiceNatAddrOnlyActionSpecs.h"
#include "BfTwiceNatAddrOnly/table/TwiceNatAddrOnlyTableHelper.h"

using namespace BfTwiceNatAddrOnly;

namespace {

TEST(Handles, KeysByIdentityAndGivesCountsBack) {
   auto map = twiceNatAddrOnlyTableHandlesFactory();
   auto a = twiceNatAddrOnlyMatchSpecFactory();
   auto twin = twiceNatAddrOnlyMatchSpecFactory();  // equal contents, another object
   EXPECT_EQ(map->entry(a), 0u);
   EXPECT_FALSE(map->entryHas(a));

   map->entryIs(a, 11);
   map->entryIs(a, 12);
   map->entryIs(twin, 0);
   EXPECT_EQ(map->entries(), 2u);
   EXPECT_EQ(map->entry(a), 12u);
   EXPECT_TRUE(map->entryHas(twin));
   EXPECT_EQ(map->entry(twin), 0u);
   EXPECT_EQ(a->references(), 2u);

   map->entryDel(twiceNatAddrOnlyMatchSpecFactory());
   EXPECT_EQ(map->entries(), 2u);
   map->entryDel(a);
   EXPECT_FALSE(map->entryHas(a));
   EXPECT_EQ(a->references(), 1u);
   EXPECT_EQ(twin->references(), 2u);
   map = nullptr;
   EXPECT_EQ(twin->references(), 1u);
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
   EXPECT_THROW(Zin::attributeInstantiate(*helper, "pdLib"), Zin::ValueTypeException);
}

}  // namespace
