// Write over the service: per-update statuses in the error details, both atomicity modes (with
// the chip failing under them), the request-wide refusals, and what stays on the chip.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "chip/Faults.h"
#include "p4rt/ServiceRig.h"

namespace TwiceNatP4rtTest {
namespace {

using testing::ElementsAreArray;
using testing::HasSubstr;
using Code = grpc::StatusCode;

std::vector<Code> codesOf(grpc::Status const& s) {
   std::vector<Code> out;
   for (Error const& e : errorsOf(s))
      out.push_back(Code(e.canonical_code()));
   return out;
}

// The table's entries as (dip, next hop), in the order reads give them.
std::vector<std::pair<uint32_t, std::string>> contents(P4rtClient& client) {
   std::vector<std::pair<uint32_t, std::string>> out;
   for (TableEntry const& e : client.readAll()) {
      std::string const& v = e.match(0).exact().value();
      uint32_t dip = 0;
      for (unsigned char c : v)
         dip = dip << 8 | c;
      auto const& params = e.action().action().params();
      out.push_back({dip, params.empty() ? "onMiss" : params.rbegin()->value()});
   }
   return out;
}

struct Fixture : testing::Test {
   ServiceRig rig;
   P4rtClient client{rig.port()};
   std::unique_ptr<P4rtClient::Stream> stream = client.primary();
   void TearDown() override { chip::faultsClear(); }
};

using WriteTest = Fixture;

TEST_F(WriteTest, EachUpdateItsStatus) {
   ASSERT_TRUE(stream);
   TableEntry bad = entryOf(3, 1, 1);
   bad.mutable_action()->mutable_action()->set_action_id(77);
   grpc::Status s = client.write(
       {updateOf(Update::INSERT, entryOf(1, 1, 1)), updateOf(Update::INSERT, entryOf(1, 1, 1)),
        updateOf(Update::INSERT, bad), updateOf(Update::MODIFY, entryOf(2, 1, 1)),
        updateOf(Update::INSERT, entryOf(2, 1, 1, kOnMiss))});
   EXPECT_EQ(s.error_code(), Code::UNKNOWN);
   EXPECT_THAT(s.error_message(), HasSubstr("3 of 5 updates failed; update 1: ALREADY_EXISTS: "));
   EXPECT_THAT(codesOf(s), ElementsAreArray({Code::OK, Code::ALREADY_EXISTS, Code::INVALID_ARGUMENT,
                                             Code::NOT_FOUND, Code::OK}));
   EXPECT_EQ(rig.count(), 2u);

   // MODIFY without action keeps it; the default entry is set and reset by MODIFY.
   EXPECT_TRUE(client.write({updateOf(Update::MODIFY, entryOf(1, 1, 1, 0))}).ok());
   EXPECT_EQ(contents(client)[0].second, bytesOf(1));
   TableEntry def;
   def.set_table_id(kTable);
   def.set_is_default_action(true);
   TableEntry ecmp = def;
   *ecmp.mutable_action() = entryOf(0, 0, 0, kEcmp, 9).action();
   EXPECT_TRUE(client.write({updateOf(Update::MODIFY, ecmp)}).ok());
   std::vector<TableEntry> got = client.read(def);
   ASSERT_EQ(got.size(), 1u);
   EXPECT_EQ(got[0].action().action().action_id(), kEcmp);
   EXPECT_TRUE(client.write({updateOf(Update::MODIFY, def)}).ok());
   got = client.read(def);
   ASSERT_EQ(got.size(), 1u);
   EXPECT_EQ(got[0].action().action().action_id(), kOnMiss);

   EXPECT_TRUE(client
                   .write({updateOf(Update::DELETE, entryOf(1, 1, 1, 0)),
                           updateOf(Update::DELETE, entryOf(2, 1, 1, 0))})
                   .ok());
   EXPECT_EQ(rig.count(), 0u);
}

TEST_F(WriteTest, RequestWideRefusals) {
   ASSERT_TRUE(stream);
   std::vector<Update> const one = {updateOf(Update::INSERT, entryOf(1, 1, 1))};
   grpc::Status s = client.write(one, 1, WriteRequest::DATAPLANE_ATOMIC);
   EXPECT_EQ(s.error_code(), Code::UNIMPLEMENTED);
   EXPECT_EQ(P4rtClient(rig.port(), 3).write(one).error_code(), Code::NOT_FOUND);
   EXPECT_EQ(client.write(one, 2).error_code(), Code::PERMISSION_DENIED);
   s = client.write(std::vector<Update>(1001, one[0]));
   EXPECT_EQ(s.error_code(), Code::RESOURCE_EXHAUSTED);
   EXPECT_THAT(s.error_message(), HasSubstr("a batch of 1001 updates: at most 1000"));
   EXPECT_TRUE(s.error_details().empty());
   EXPECT_EQ(rig.count(), 0u);
   WriteRequest role;
   role.set_role("routes");
   role.mutable_election_id()->set_low(1);
   EXPECT_EQ(client.write(role).error_code(), Code::NOT_FOUND);
}

TEST_F(WriteTest, RollbackUndoesTheBatch) {
   ASSERT_TRUE(stream);
   ASSERT_TRUE(client.write({updateOf(Update::INSERT, entryOf(9, 1, 1, kOnMiss))}).ok());
   auto const before = contents(client);
   // Refused before the core: nothing applied.
   TableEntry wide = entryOf(3, 1, 1);
   wide.mutable_match(2)->mutable_exact()->set_value(std::string("\x01\x00\x00", 3));
   grpc::Status s =
       client.write({updateOf(Update::INSERT, entryOf(1, 1, 1)), updateOf(Update::INSERT, wide)}, 1,
                    WriteRequest::ROLLBACK_ON_ERROR);
   EXPECT_THAT(codesOf(s), ElementsAreArray({Code::ABORTED, Code::OUT_OF_RANGE}));
   // Failing in the core after changes: they are undone in reverse.
   s = client.write(
       {updateOf(Update::INSERT, entryOf(1, 1, 1)),
        updateOf(Update::MODIFY, entryOf(9, 1, 1, kHit, 5)),
        updateOf(Update::INSERT, entryOf(9, 1, 1)), updateOf(Update::INSERT, entryOf(2, 1, 1))},
       1, WriteRequest::ROLLBACK_ON_ERROR);
   EXPECT_THAT(codesOf(s), ElementsAreArray({Code::ABORTED, Code::ABORTED, Code::ALREADY_EXISTS,
                                             Code::ABORTED}));
   EXPECT_EQ(contents(client), before);
}

// The chip fails one call under each mode: CONTINUE_ON_ERROR keeps the rest, ROLLBACK_ON_ERROR
// none of it.
TEST_F(WriteTest, ChipFaults) {
   ASSERT_TRUE(stream);
   std::vector<Update> batch;
   for (uint32_t i = 1; i <= 4; ++i)
      batch.push_back(updateOf(Update::INSERT, entryOf(i, 1, 1)));
   chip::faultIs("tableEntryAdd", chip::status::kNoSpace, 3);  // the rig's chip has BfRt
   grpc::Status s = client.write(batch);
   std::vector<Code> codes = codesOf(s);
   ASSERT_EQ(codes.size(), 4u);
   EXPECT_EQ(codes[2], Code::RESOURCE_EXHAUSTED);
   EXPECT_EQ(std::count(codes.begin(), codes.end(), Code::OK), 3);
   EXPECT_EQ(rig.count(), 3u);

   std::vector<Update> more;
   for (uint32_t i = 5; i <= 8; ++i)
      more.push_back(updateOf(Update::INSERT, entryOf(i, 1, 1)));
   more.push_back(updateOf(Update::DELETE, entryOf(1, 1, 1, 0)));
   auto const before = contents(client);
   chip::faultIs("tableEntryAdd", chip::status::kNoSpace, 4);
   s = client.write(more, 1, WriteRequest::ROLLBACK_ON_ERROR);
   codes = codesOf(s);
   ASSERT_EQ(codes.size(), 5u);
   EXPECT_EQ(std::count(codes.begin(), codes.end(), Code::ABORTED), 4);
   EXPECT_EQ(codes[3], Code::RESOURCE_EXHAUSTED);
   EXPECT_EQ(contents(client), before);
}

}  // namespace
}  // namespace TwiceNatP4rtTest
