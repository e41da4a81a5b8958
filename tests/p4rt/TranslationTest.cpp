// P4Runtime table entries to the core's values and back, without a server: every refusal a
// Write's update or a Read's entity can meet, with its canonical code, and the byte strings of
// what reads back.
#include <gmock/gmock.h>
#include <google/protobuf/text_format.h>
#include <gtest/gtest.h>

#include "agent/p4rt/EntryTranslation.h"

namespace TwiceNatP4rtTest {
namespace {

using namespace TwiceNatP4rt;
using testing::HasSubstr;
using TwiceNatAgent::UpdateKind;

// Ids as pinned by the P4Info (table 0x0216a7cc; actions onMiss 0x01a2dafd, hit 0x01518192,
// ecmp 0x01f75fe4).
std::string const kDip = R"(match { field_id: 1 exact { value: "\n\000\000\001" } } )";
std::string const kSip = R"(match { field_id: 2 exact { value: "\300\250\001\001" } } )";
std::string const kVrf = R"(match { field_id: 3 exact { value: "\001" } } )";
std::string const kHit = R"(action { action { action_id: 22118802
    params { param_id: 1 value: "\000\144" } params { param_id: 2 value: "\310" }
    params { param_id: 3 value: "\006" } params { param_id: 4 value: "\000" }
    params { param_id: 5 value: "\007" } } } )";

p4::v1::Update updateOf(std::string const& type, std::string const& entry) {
   p4::v1::Update u;
   std::string const text = "type: " + type + " entity { table_entry { " + entry + " } }";
   EXPECT_TRUE(google::protobuf::TextFormat::ParseFromString(text, &u)) << text;
   return u;
}

std::string const kEntry = "table_id: 35039180 " + kDip + kSip + kVrf;

struct WriteCase {
   std::string name, type, entry;
   Rpc code;
   std::string message;
};

TEST(TranslationTest, WriteUpdatesRefusedWithTheirCodes) {
   Pipeline const vrf(true, 1000), noVrf(false, 1000);
   std::vector<WriteCase> const cases = {
       {"unknown table", "INSERT", "table_id: 7 " + kDip + kSip + kVrf + kHit,
        Rpc::INVALID_ARGUMENT, "no table with id 0x00000007"},
       {"no type", "UNSPECIFIED", kEntry + kHit, Rpc::INVALID_ARGUMENT, "INSERT, MODIFY or DELETE"},
       {"insert without action", "INSERT", kEntry, Rpc::INVALID_ARGUMENT, "needs an action"},
       {"unknown field", "INSERT",
        kEntry + "match { field_id: 4 exact { value: \"\\001\" } }" + kHit, Rpc::INVALID_ARGUMENT,
        "has no match field 4"},
       {"field twice", "INSERT", kEntry + kDip + kHit, Rpc::INVALID_ARGUMENT,
        "outerIpv4HdrDip is given twice"},
       {"field missing", "DELETE", "table_id: 35039180 " + kDip + kSip, Rpc::INVALID_ARGUMENT,
        "l3InfoVrfId is missing"},
       {"field without value", "DELETE",
        "table_id: 35039180 " + kDip + kSip + "match { field_id: 3 }", Rpc::INVALID_ARGUMENT,
        "l3InfoVrfId has no value"},
       {"ternary", "INSERT",
        "table_id: 35039180 " + kDip + kSip +
            R"(match { field_id: 3 ternary { value: "\001" mask: "\377" } } )" + kHit,
        Rpc::INVALID_ARGUMENT, "l3InfoVrfId is an exact match; the request gives a ternary"},
       {"empty value", "DELETE",
        "table_id: 35039180 " + kSip + kVrf + R"(match { field_id: 1 exact { value: "" } })",
        Rpc::OUT_OF_RANGE, "outerIpv4HdrDip is an empty byte string"},
       {"address too wide", "DELETE",
        "table_id: 35039180 " + kSip + kVrf +
            R"(match { field_id: 1 exact { value: "\001\000\000\000\000" } })",
        Rpc::OUT_OF_RANGE, "outerIpv4HdrDip does not fit in its 32 bits"},
       {"VRF too wide", "DELETE",
        "table_id: 35039180 " + kDip + kSip +
            R"(match { field_id: 3 exact { value: "\001\000\000" } })",
        Rpc::OUT_OF_RANGE, "l3InfoVrfId does not fit in its 16 bits"},
       {"unknown action", "INSERT", kEntry + "action { action { action_id: 16777217 } }",
        Rpc::INVALID_ARGUMENT, "has no action with id 0x01000001"},
       {"parameter missing", "INSERT",
        kEntry +
            R"(action { action { action_id: 22118802 params { param_id: 1 value: "\001" } } })",
        Rpc::INVALID_ARGUMENT, "parameter rwId of action twiceNatAddrOnlyHit is missing"},
       {"parameter twice", "MODIFY",
        kEntry + R"(action { action { action_id: 32989156 params { param_id: 2 value: "\001" }
                    params { param_id: 2 value: "\001" } } })",
        Rpc::INVALID_ARGUMENT, "parameter rwId of action twiceNatAddrOnlyHitEcmp is given twice"},
       {"parameter too wide", "INSERT",
        kEntry +
            R"(action { action { action_id: 22118802 params { param_id: 3 value: "\001\000" } } })",
        Rpc::OUT_OF_RANGE, "parameter prot does not fit in its 8 bits"},
       {"extra parameter", "INSERT",
        kEntry +
            R"(action { action { action_id: 27450109 params { param_id: 1 value: "\001" } } })",
        Rpc::INVALID_ARGUMENT, "action onMiss has no parameter 1"},
       {"member instead of action", "INSERT", kEntry + "action { action_profile_member_id: 3 }",
        Rpc::INVALID_ARGUMENT, "is a direct table"},
       {"empty action", "MODIFY", kEntry + "action { }", Rpc::INVALID_ARGUMENT,
        "the entry's action is empty"},
       {"priority", "DELETE", kEntry + "priority: 5", Rpc::INVALID_ARGUMENT, "no priority"},
       {"constant", "DELETE", kEntry + "is_const: true", Rpc::INVALID_ARGUMENT, "never constant"},
       {"idle timeout", "INSERT", kEntry + kHit + "idle_timeout_ns: 100", Rpc::INVALID_ARGUMENT,
        "has no idle timeout"},
       {"metadata", "MODIFY", kEntry + kHit + "metadata: \"cookie\"", Rpc::UNIMPLEMENTED,
        "keeps no metadata"},
       {"default inserted", "INSERT", "table_id: 35039180 is_default_action: true " + kHit,
        Rpc::INVALID_ARGUMENT, "set and reset with MODIFY"},
       {"default deleted", "DELETE", "table_id: 35039180 is_default_action: true",
        Rpc::INVALID_ARGUMENT, "set and reset with MODIFY"},
       {"default with match", "MODIFY", kEntry + "is_default_action: true", Rpc::INVALID_ARGUMENT,
        "the default entry has no match fields"},
   };
   for (WriteCase const& c : cases) {
      SCOPED_TRACE(c.name);
      WriteOp op;
      RpcError const e = toWriteOp(vrf, updateOf(c.type, c.entry), op);
      EXPECT_EQ(rpcCodeName(e.code), std::string(rpcCodeName(c.code)));
      EXPECT_THAT(e.message, HasSubstr(c.message));
   }
   WriteOp op;
   RpcError e = toWriteOp(noVrf, updateOf("INSERT", kEntry + kHit), op);
   EXPECT_EQ(e.code, Rpc::INVALID_ARGUMENT);
   EXPECT_THAT(e.message, HasSubstr("no match field 3 (l3InfoVrfId): this chip has no VRF"));
}

TEST(TranslationTest, WriteUpdatesTaken) {
   Pipeline const vrf(true, 1000), noVrf(false, 1000);
   WriteOp op;
   ASSERT_TRUE(toWriteOp(vrf, updateOf("INSERT", kEntry + kHit), op).ok());
   EXPECT_EQ(op.update.kind, UpdateKind::insert);
   EXPECT_EQ(op.update.entry.match.dip, 0x0A000001u);
   EXPECT_EQ(op.update.entry.match.sip, 0xC0A80101u);
   EXPECT_TRUE(op.update.entry.match.vrfGiven);
   EXPECT_EQ(op.update.entry.match.vrf, 1);
   EXPECT_EQ(op.update.entry.action,
             (TwiceNatAgent::ActionValues{ActionKind::hit, 100, 200, 6, 0, 7}));
   // Padded strings, and a delete whose action would be refused anywhere else.
   std::string const padded =
       R"(table_id: 35039180 match { field_id: 1 exact { value: "\000\000\000\000\377\377\377\377" } }
          match { field_id: 2 exact { value: "\000" } }
          match { field_id: 3 exact { value: "\000\377\377" } }
          action { action { action_id: 1 } } metadata: "x")";
   ASSERT_TRUE(toWriteOp(vrf, updateOf("DELETE", padded), op).ok());
   EXPECT_EQ(op.update.kind, UpdateKind::remove);
   EXPECT_EQ(op.update.entry.match.dip, 0xFFFFFFFFu);
   EXPECT_EQ(op.update.entry.match.vrf, 0xFFFF);

   ASSERT_TRUE(
       toWriteOp(noVrf, updateOf("INSERT", "table_id: 35039180 " + kDip + kSip + kHit), op).ok());
   EXPECT_FALSE(op.update.entry.match.vrfGiven);
}

// Entities and table-entry fields of kinds this server has no messages for arrive as unknown
// fields.
TEST(TranslationTest, UnknownKindsNamed) {
   Pipeline const p(true, 1000);
   p4::v1::Update u = updateOf("INSERT", kEntry + kHit);
   u.mutable_entity()->mutable_table_entry()->MergeFromString(std::string("\x3a\x00", 2));
   WriteOp op;
   RpcError e = toWriteOp(p, u, op);
   EXPECT_EQ(e.code, Rpc::INVALID_ARGUMENT);
   EXPECT_THAT(e.message, HasSubstr("has no direct counter or meter"));

   u.mutable_entity()->Clear();
   u.mutable_entity()->MergeFromString(std::string("\x3a\x00", 2));  // a counter entry
   e = toWriteOp(p, u, op);
   EXPECT_EQ(e.code, Rpc::UNIMPLEMENTED);
   EXPECT_THAT(e.message, HasSubstr("only table entries are served here"));
   ReadQuery q;
   e = toReadQuery(p, u.entity(), q);
   EXPECT_EQ(e.code, Rpc::UNIMPLEMENTED);
   e = toReadQuery(p, p4::v1::Entity(), q);
   EXPECT_EQ(e.code, Rpc::INVALID_ARGUMENT);
}

}  // namespace
}  // namespace TwiceNatP4rtTest
