// What the chip holds reads back through entryByHandle and entry, cut to the attributes' widths.
#include "BfrtFixture.h"

namespace bfrttest {
namespace {

struct ReadCase {
   TwiceNatAddrOnlyActionSpecType type;
   unsigned rawIndex;  // parameter stored raw in the chip, wider than its field
   U32 raw;
   std::array<U32, 5> want;  // keyId, rwId, prot, frag, nextHop or ecmpGroup
};

TEST_F(BfrtFixture, ReadBackKeepsLowBitsAndTheVrfOnlyWhereTheTableHasIt) {
   ReadCase const cases[] = {
       {twiceNatAddrOnlyHitActionSpec, 2, 0x1FF, {1, 2, 0xFF, 4, 5}},
       {twiceNatAddrOnlyHitEcmpActionSpec, 0, 0x12345, {0x2345, 7, 8, 9, 10}},
       {twiceNatAddrOnlyHitEcmpActionSpec, 4, 0xABCDE, {6, 7, 8, 9, 0xBCDE}},
       {onMissActionSpec, 1, 55, {0, 0, 0, 0, 0}},
   };
   for (bool vrf : {true, false}) {
      open({.vrfKeyField = vrf});
      U32 dip = 100;
      for (ReadCase const& c : cases) {
         SCOPED_TRACE(testing::Message()
                      << "vrf " << vrf << " type " << c.type << " raw " << c.raw);
         Match m = matchOf(++dip, 0xC0A80001);
         if (vrf) m->l3InfoVrfIdIs(0x1234);
         program(m, actionOf(c.type, 6, 7, 8, 9, 10));
         if (c.type == twiceNatAddrOnlyHitActionSpec) program(m, actionOf(c.type, 1, 2, 3, 4, 5));
         U32 const h = handles().entry(m);
         ASSERT_EQ(chip_->rawParamIs(h, c.rawIndex, c.raw), 0);
         TwiceNatAddrOnlyTableEntry a = table_->entryByHandle(h), b = table_->entry(m);
         ASSERT_TRUE(a.match() && a.action() && b.match());
         EXPECT_FALSE(isEq(a, b) || a.match() == TwiceNatAddrOnlyMatchSpec::PtrConst(m));
         auto const& x = *a.match();
         EXPECT_EQ(std::tuple(x.outerIpv4HdrDip(), x.outerIpv4HdrSip(), x.l3InfoVrfId(), x.isSet()),
                   std::tuple(dip, 0xC0A80001u, U16(vrf ? 0x1234 : 0), U64(vrf)));
         auto const& act = *a.action();
         U32 last = 0;
         if (act.actionType() == twiceNatAddrOnlyHitActionSpec)
            last = static_cast<TwiceNatAddrOnlyHitActionSpec const&>(act).nextHop();
         if (act.actionType() == twiceNatAddrOnlyHitEcmpActionSpec)
            last = static_cast<TwiceNatAddrOnlyHitEcmpActionSpec const&>(act).ecmpGroup();
         EXPECT_EQ(act.actionType(), c.type);
         EXPECT_EQ(act.fwkType(), actionOf(c.type)->fwkType());
         EXPECT_EQ((std::array<U32, 5>{act.keyId(), act.rwId(), act.prot(), act.frag(), last}),
                   c.want);
      }
      EXPECT_TRUE(table_->entryByHandle(0x7777).empty());
      TearDown();
   }
}

}  // namespace
}  // namespace bfrttest
