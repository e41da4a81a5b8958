// The entry model: the read-only marks of the match spec, identity of entries, and the
// generic attribute interface over an entry.
#include <gtest/gtest.h>

#include "BfTwiceNatAddrOnly/entry/TwiceNatAddrOnlyTableEntry.h"

using namespace BfTwiceNatAddrOnly;

namespace {

constexpr char kSource[] = "bf_tolvex_switch/zin/BfTwiceNatAddrOnly/BfTwiceNatAddrOnly";

TEST(MatchSpecDeathTest, ReadOnlyMarksStopTheProcess) {
   auto m = twiceNatAddrOnlyMatchSpecFactory();
   std::string prefix = std::string(kSource) + ":[0-9]+: ";
   EXPECT_DEATH(m->isSetIs(1),
                prefix +
                    "void BfTwiceNatAddrOnly::TwiceNatAddrOnlyMatchSpec::isSetIs\\(U64\\): "
                    "Assertion `0' failed");
   EXPECT_DEATH(Zin::attributeIs(*m, "l3InfoVrfIdIsSet", Zin::Value::boolean(true)),
                "l3InfoVrfIdIsSetIs\\(bool\\): Assertion `0' failed");
   EXPECT_DEATH(Zin::attributeIs(*m, "isSet", Zin::Value::number(1)), "isSetIs");
}

TEST(TableEntry, IdentityAndCounts) {
   auto m = twiceNatAddrOnlyMatchSpecFactory();
   auto a = onMissActionSpecFactory();
   TwiceNatAddrOnlyTableEntry e1(m);
   EXPECT_EQ(e1.action(), nullptr);
   e1.actionIs(a);
   EXPECT_EQ(m->references(), 2u);
   {
      TwiceNatAddrOnlyTableEntry e2 = e1;
      EXPECT_EQ(m->references(), 3u);
      EXPECT_EQ(a->references(), 3u);
      EXPECT_TRUE(isEq(e1, e2));
   }
   EXPECT_EQ(a->references(), 2u);
   // Equal contents in other objects are another entry.
   TwiceNatAddrOnlyTableEntry e3(twiceNatAddrOnlyMatchSpecFactory());
   e3.actionIs(onMissActionSpecFactory());
   EXPECT_FALSE(isEq(e1, e3));
   EXPECT_TRUE(TwiceNatAddrOnlyTableEntry().empty());
   EXPECT_TRUE(isEq(TwiceNatAddrOnlyTableEntry(), TwiceNatAddrOnlyTableEntry()));
}

TEST(TableEntry, GenericAttributesRefuseMatch) {
   auto m = twiceNatAddrOnlyMatchSpecFactory();
   Zin::Value v = Zin::valueOf(TwiceNatAddrOnlyTableEntry(m));
   EXPECT_THROW(Zin::valueAttributeIs(v, "match", Zin::valueOf(m)),
                Zin::AttributeReadOnlyException);
   auto a = twiceNatAddrOnlyHitActionSpecFactory();
   Zin::valueAttributeIs(v, "action", Zin::valueOf(a));
   auto e = Zin::valueAs<TwiceNatAddrOnlyTableEntry>(v);
   EXPECT_EQ(e.action(), a);
   EXPECT_EQ(Zin::valueAs<TwiceNatAddrOnlyMatchSpec::PtrConst>(Zin::valueAttribute(v, "match")), m);
   EXPECT_THROW(Zin::valueAttributeIs(v, "action", Zin::valueOf(m)), Zin::ValueTypeException);
   EXPECT_THROW(Zin::valueHash(v), Zin::UnhashableTypeException);
}

}  // namespace
