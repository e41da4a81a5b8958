// The table's P4Info: its ids as a P4Info generator assigns them, the VRF field only where the
// chip has it, and which P4Infos a pipeline change takes.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <functional>

#include "agent/p4rt/Pipeline.h"

namespace TwiceNatP4rtTest {
namespace {

using namespace TwiceNatP4rt;
using P4Info = p4::config::v1::P4Info;
using testing::HasSubstr;

// Worked out by hand from the names (one-at-a-time hash, low 24 bits under the prefix byte).
TEST(PipelineTest, IdsAsAssigned) {
   Pipeline const p(true, 4096);
   EXPECT_EQ(p.tableId(), 0x0216a7ccu);
   EXPECT_EQ(p.actionId(ActionKind::onMiss), 0x01a2dafdu);
   EXPECT_EQ(p.actionId(ActionKind::hit), 0x01518192u);
   EXPECT_EQ(p.actionId(ActionKind::ecmp), 0x01f75fe4u);
   EXPECT_EQ(p.actionOf(0x01518192u), ActionKind::hit);
   EXPECT_FALSE(p.actionOf(0x0216a7ccu));

   P4Info const& info = p.p4info();
   ASSERT_EQ(info.tables_size(), 1);
   EXPECT_EQ(info.tables(0).size(), 4096);
   ASSERT_EQ(info.tables(0).match_fields_size(), 3);
   EXPECT_EQ(info.tables(0).match_fields(2).name(), "l3InfoVrfId");
   EXPECT_EQ(info.tables(0).match_fields(2).bitwidth(), 16);
   ASSERT_EQ(info.actions_size(), 3);
   EXPECT_EQ(info.actions(2).params(4).name(), "ecmpGroup");
   EXPECT_EQ(Pipeline(false, 10).p4info().tables(0).match_fields_size(), 2);
}

struct Change {
   std::string name;
   std::function<void(P4Info&)> change;
   std::string why;  // empty: taken
};

TEST(PipelineTest, OnlyThisTablesP4InfoTaken) {
   Pipeline const p(true, 4096);
   auto table = [](P4Info& i) { return i.mutable_tables(0); };
   std::vector<Change> const changes = {
       {"as it is", [](P4Info&) {}, ""},
       {"documented, smaller",
        [&](P4Info& i) {
           table(i)->set_size(100);
           table(i)->mutable_preamble()->add_annotations("@brief(\"x\")");
           i.mutable_pkg_info()->set_name("other");
        },
        ""},
       {"bigger than the chip", [&](P4Info& i) { table(i)->set_size(4097); },
        "of size 4097 cannot be realised"},
       {"another table", [&](P4Info& i) { table(i)->mutable_preamble()->set_name("t"); },
        "the P4Info's table is 't'"},
       {"two tables", [&](P4Info& i) { *i.add_tables() = i.tables(0); }, "has 2 tables"},
       {"field wider", [&](P4Info& i) { table(i)->mutable_match_fields(0)->set_bitwidth(48); },
        "match field 1 'outerIpv4HdrDip' (48 bits)"},
       {"field by LPM",
        [&](P4Info& i) {
           table(i)->mutable_match_fields(1)->set_match_type(p4::config::v1::MatchField::LPM);
        },
        "match field 2"},
       {"no VRF field", [&](P4Info& i) { table(i)->mutable_match_fields()->RemoveLast(); },
        "has 3 match fields on this chip (with the VRF key field)"},
       {"const default", [&](P4Info& i) { table(i)->set_const_default_action_id(1); },
        "no constant default action"},
       {"action for the default only",
        [&](P4Info& i) {
           table(i)->mutable_action_refs(0)->set_scope(p4::config::v1::ActionRef::DEFAULT_ONLY);
        },
        "refers to action 0x"},
       {"parameter narrower",
        [&](P4Info& i) { i.mutable_actions(1)->mutable_params(4)->set_bitwidth(8); },
        "parameter 5 'nextHop' of 8 bits"},
       {"another action", [&](P4Info& i) { i.add_actions()->mutable_preamble()->set_id(7); },
        "declares 4 actions"},
       {"a counter too", [&](P4Info& i) { i.MergeFromString(std::string("\x2a\x00", 2)); },
        "objects of a kind this pipeline has none of (P4Info field 5)"},
   };
   for (Change const& c : changes) {
      SCOPED_TRACE(c.name);
      P4Info info = p.p4info();
      c.change(info);
      if (c.why.empty()) {
         EXPECT_EQ(p.mismatch(info), "");
      } else {
         EXPECT_THAT(p.mismatch(info), HasSubstr(c.why));
      }
   }
   EXPECT_THAT(Pipeline(false, 4096).mismatch(p.p4info()),
               HasSubstr("has 2 match fields on this chip (without the VRF key field)"));
}

}  // namespace
}  // namespace TwiceNatP4rtTest
