// The action name a PD readback gets from the SDK decides the action's class: each of the
// table's three names reads back as its action, and any other text in the SDK's name buffer
// (a longer or shorter name, one that fills the buffer with no end mark) as the empty entry.
#include <cstring>
#include <string>

#include "BfTwiceNatAddrOnly/pd/PdNames.h"
#include "support/TableRig.h"

namespace tabletest {
namespace {

using BfPdTwiceNatAddrOnly::kActionNameSize;

// What the stand-in get_entry writes into the name buffer: all kActionNameSize bytes.
char gWritten[kActionNameSize];

BfPdTwiceNatAddrOnly::Status writesName(BfPdTwiceNatAddrOnly::Sess, uint32_t,
                                        BfPdTwiceNatAddrOnly::Hdl, bool,
                                        BfPdTwiceNatAddrOnly::MatchSpec* m, char* name,
                                        BfPdTwiceNatAddrOnly::HitSpec* a, void*, uint8_t*) {
   *m = {0, 10, 20};
   *a = {};
   a->action_keyId = 7;
   std::memcpy(name, gWritten, kActionNameSize);
   return 0;
}

// `text` and its end mark, the rest of the buffer a byte that is no end mark.
void writtenIs(std::string const& text) {
   std::memset(gWritten, 'x', kActionNameSize);
   std::memcpy(gWritten, text.c_str(), std::min<std::size_t>(text.size() + 1, kActionNameSize));
}

TEST(ReadbackName, OnlyTheTablesNamesReadBackAsTheirActions) {
   Rig rig{{.profile = {.bfrt = false}}};
   auto& pdLib =
       const_cast<BfPdTwiceNatAddrOnly::BfPdTwiceNatAddrOnlyIntf&>(*rig.table->helper()->pdLib());
   pdLib.getEntry = writesName;
   std::string const hit = BfTwiceNatAddrOnly::pd::kHitName;
   std::string const filled = hit + std::string(kActionNameSize - hit.size(), 'x');
   struct Case {
      std::string written;
      int type;  // the action's type; -1 for the empty entry
   };
   Case const cases[] = {
       {BfTwiceNatAddrOnly::pd::kOnMissName, onMissActionSpec},
       {hit, twiceNatAddrOnlyHitActionSpec},
       {BfTwiceNatAddrOnly::pd::kHitEcmpName, twiceNatAddrOnlyHitEcmpActionSpec},
       {hit + "Ecm", -1},
       {hit.substr(0, hit.size() - 1), -1},
       {"", -1},
   };
   for (Case const& c : cases) {
      SCOPED_TRACE(c.written);
      writtenIs(c.written);
      TwiceNatAddrOnlyTableEntry const e = rig.table->entryByHandle(5);
      if (c.type < 0) {
         EXPECT_EQ(e.match(), nullptr);
         EXPECT_EQ(e.action(), nullptr);
         continue;
      }
      ASSERT_NE(e.action(), nullptr);
      EXPECT_EQ(int(e.action()->actionType()), c.type);
      EXPECT_EQ(e.match()->outerIpv4HdrDip(), 10u);
   }
   // The whole buffer the hit name and more, with no end mark.
   std::memcpy(gWritten, filled.data(), kActionNameSize);
   EXPECT_EQ(rig.table->entryByHandle(5).action(), nullptr);
}

}  // namespace
}  // namespace tabletest
