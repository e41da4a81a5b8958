// The entry model: defaults, the VRF mark, identity of entries, the enumeration and the
// generic attribute interface over every spec class.
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

TEST(ActionSpecs, EveryAttributeByNameInDeclarationOrder) {
   auto hit = twiceNatAddrOnlyHitActionSpecFactory();
   std::vector<std::string> names;
   for (auto const* a : hit->fwkType()->attributes())
      names.push_back(a->name);
   EXPECT_EQ(names,
             (std::vector<std::string>{"actionType", "frag", "keyId", "prot", "rwId", "nextHop"}));
   struct Set {
      char const* name;
      U64 value;
   } sets[] = {{"frag", 255}, {"keyId", 65535}, {"prot", 6}, {"rwId", 9}, {"nextHop", 100}};
   for (Set const& s : sets)
      Zin::attributeIs(*hit, s.name, Zin::Value::number(s.value));
   EXPECT_EQ(hit->frag(), 255);
   EXPECT_EQ(hit->keyId(), 65535);
   EXPECT_EQ(hit->prot(), 6);
   EXPECT_EQ(hit->rwId(), 9);
   EXPECT_EQ(hit->nextHop(), 100);
   EXPECT_THROW(Zin::attributeIs(*hit, "prot", Zin::Value::number(256)), Zin::RangeException);
   EXPECT_EQ(hit->prot(), 6);
   Zin::attributeIs(*hit, "actionType", Zin::Value::string("twiceNatAddrOnlyHitEcmpActionSpec"));
   EXPECT_EQ(hit->actionType(), twiceNatAddrOnlyHitEcmpActionSpec);
   EXPECT_THROW(Zin::attribute(*hit, "ecmpGroup"), Zin::AttributeNotFoundException);
}

TEST(ActionSpecType, NamesAndNumbers) {
   EXPECT_EQ(stringValue(TwiceNatAddrOnlyActionSpecTypeInstance(1)),
             "twiceNatAddrOnlyHitActionSpec");
   EXPECT_EQ(TwiceNatAddrOnlyActionSpecTypeInstance(Pemra::String("onMissActionSpec")), 0);
   EXPECT_THROW(TwiceNatAddrOnlyActionSpecTypeInstance(3), Zin::RangeException);
   EXPECT_THROW(TwiceNatAddrOnlyActionSpecTypeInstance(Pemra::String("hit")), Zin::RangeException);
   // The longest name wins where one name is the start of another.
   Zin::CharRange in("twiceNatAddrOnlyHitEcmpActionSpec, rest");
   EXPECT_EQ(sequenceToValue(in, static_cast<TwiceNatAddrOnlyActionSpecType*>(nullptr)),
             twiceNatAddrOnlyHitEcmpActionSpec);
   EXPECT_EQ(in.rest(), ", rest");
   std::ostringstream os;
   os << twiceNatAddrOnlyHitEcmpActionSpec << ' ' << static_cast<TwiceNatAddrOnlyActionSpecType>(7);
   EXPECT_EQ(os.str(), "twiceNatAddrOnlyHitEcmpActionSpec 7");
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

TEST(Registry, ModuleRegisteredAtLoad) {
   auto& reg = Zin::TypeRegistry::instance();
   for (char const* name :
        {"BfTwiceNatAddrOnly::TwiceNatAddrOnlyMatchSpec", "BfTwiceNatAddrOnly::OnMissActionSpec",
         "BfTwiceNatAddrOnly::TwiceNatAddrOnlyTableEntry",
         "BfTwiceNatAddrOnly::TwiceNatAddrOnlyTableBfrt",
         "BfTwiceNatAddrOnly::TwiceNatAddrOnlyActionSpecType"}) {
      EXPECT_NE(reg.type(name), nullptr) << name;
   }
   auto made = reg.type("BfTwiceNatAddrOnly::TwiceNatAddrOnlyHitEcmpActionSpec")->create();
   EXPECT_NE(dynamic_cast<TwiceNatAddrOnlyHitEcmpActionSpec*>(made.ptr()), nullptr);
}

}  // namespace
