// Arbitration over real stream channels: who is primary among two and three clients, what each
// is told when that changes, and that only the primary's writes are taken.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "p4rt/ServiceRig.h"

namespace TwiceNatP4rtTest {
namespace {

using testing::HasSubstr;

// The next arbitration notice on `s`: its status code and the election id it names.
std::pair<int, uint64_t> standing(P4rtClient::Stream& s) {
   std::optional<StreamMessageResponse> r = s.next();
   EXPECT_TRUE(r && r->has_arbitration());
   if (!r || !r->has_arbitration()) return {-1, 0};
   return {r->arbitration().status().code(), r->arbitration().election_id().low()};
}

constexpr int kOk = 0, kNotFound = 5, kAlreadyExists = 6;

TEST(ArbitrationTest, TwoClients) {
   ServiceRig rig;
   P4rtClient client(rig.port());
   auto a = client.open(), b = client.open();
   ASSERT_TRUE(a->arbitrate(5));
   EXPECT_EQ(standing(*a), std::make_pair(kOk, uint64_t(5)));
   // A lower id is a backup, and only it hears of it.
   ASSERT_TRUE(b->arbitrate(3));
   EXPECT_EQ(standing(*b), std::make_pair(kAlreadyExists, uint64_t(5)));
   EXPECT_TRUE(client.write({updateOf(Update::INSERT, entryOf(1, 2, 3))}, 5).ok());
   grpc::Status s = client.write({updateOf(Update::INSERT, entryOf(4, 2, 3))}, 3);
   EXPECT_EQ(s.error_code(), grpc::StatusCode::PERMISSION_DENIED);
   EXPECT_THAT(s.error_message(), HasSubstr("election id 3 is not the primary's (5)"));

   // The backup takes over with a higher id: both are told.
   ASSERT_TRUE(b->arbitrate(9));
   EXPECT_EQ(standing(*a), std::make_pair(kAlreadyExists, uint64_t(9)));
   EXPECT_EQ(standing(*b), std::make_pair(kOk, uint64_t(9)));
   EXPECT_EQ(client.write({updateOf(Update::DELETE, entryOf(1, 2, 3))}, 5).error_code(),
             grpc::StatusCode::PERMISSION_DENIED);
   EXPECT_TRUE(client.write({updateOf(Update::DELETE, entryOf(1, 2, 3))}, 9).ok());

   // The primary goes: no primary, and the one left is told so; the old id does not come back
   // as primary, a higher one does.
   b.reset();
   EXPECT_EQ(standing(*a), std::make_pair(kNotFound, uint64_t(9)));
   EXPECT_EQ(client.write({updateOf(Update::INSERT, entryOf(1, 2, 3))}, 9).error_code(),
             grpc::StatusCode::PERMISSION_DENIED);
   ASSERT_TRUE(a->arbitrate(9));
   EXPECT_EQ(standing(*a), std::make_pair(kOk, uint64_t(9)));
   EXPECT_EQ(rig.count(), 0u);
}

TEST(ArbitrationTest, ThreeClients) {
   ServiceRig rig;
   P4rtClient client(rig.port());
   auto a = client.open(), b = client.open(), c = client.open();
   ASSERT_TRUE(a->arbitrate(std::nullopt));  // no election id: never primary
   EXPECT_EQ(standing(*a), std::make_pair(kNotFound, uint64_t(0)));
   ASSERT_TRUE(b->arbitrate(10));
   EXPECT_EQ(standing(*a), std::make_pair(kAlreadyExists, uint64_t(10)));
   EXPECT_EQ(standing(*b), std::make_pair(kOk, uint64_t(10)));
   ASSERT_TRUE(c->arbitrate(20));
   EXPECT_EQ(standing(*a), std::make_pair(kAlreadyExists, uint64_t(20)));
   EXPECT_EQ(standing(*b), std::make_pair(kAlreadyExists, uint64_t(20)));
   EXPECT_EQ(standing(*c), std::make_pair(kOk, uint64_t(20)));

   // The primary steps down below the highest id seen: nobody is primary, all are told.
   ASSERT_TRUE(c->arbitrate(15));
   for (auto* s : {a.get(), b.get(), c.get()})
      EXPECT_EQ(standing(*s), std::make_pair(kNotFound, uint64_t(20)));
   EXPECT_EQ(client.write({updateOf(Update::INSERT, entryOf(1, 2, 3))}, 15).error_code(),
             grpc::StatusCode::PERMISSION_DENIED);

   // An id another live client holds ends the asking stream; the others hear nothing of it.
   ASSERT_TRUE(a->arbitrate(10));
   EXPECT_FALSE(a->next());
   grpc::Status ended = a->finish();
   EXPECT_EQ(ended.error_code(), grpc::StatusCode::INVALID_ARGUMENT);
   EXPECT_THAT(ended.error_message(), HasSubstr("election id 10 is another client's"));

   ASSERT_TRUE(b->arbitrate(21));
   EXPECT_EQ(standing(*b), std::make_pair(kOk, uint64_t(21)));
   EXPECT_EQ(standing(*c), std::make_pair(kAlreadyExists, uint64_t(21)));
   EXPECT_TRUE(client.write({updateOf(Update::INSERT, entryOf(1, 2, 3))}, 21).ok());
   EXPECT_EQ(rig.count(), 1u);
}

TEST(ArbitrationTest, StreamRefusals) {
   ServiceRig rig(ServiceRig::Options{.deviceId = 7, .maxStreams = 2});
   P4rtClient client(rig.port());
   struct Case {
      std::function<bool(P4rtClient::Stream&)> send;
      grpc::StatusCode code;
      std::string message;
   };
   std::vector<Case> const cases = {
       {[](auto& s) { return s.arbitrate(1, 0); }, grpc::StatusCode::NOT_FOUND,
        "no device 0 here: this agent serves device 7"},
       {[](auto& s) { return s.arbitrate(1, 7, "routes"); }, grpc::StatusCode::NOT_FOUND,
        "only the default role is served here, not role 'routes'"},
       {[](auto& s) { return s.arbitrate(1, 7) && s.next() && s.arbitrate(2, 8); },
        grpc::StatusCode::FAILED_PRECONDITION, "no device 8 here"},
   };
   for (Case const& c : cases) {
      auto s = client.open();
      ASSERT_TRUE(c.send(*s));
      while (s->next()) {
      }
      grpc::Status st = s->finish();
      EXPECT_EQ(st.error_code(), c.code);
      EXPECT_THAT(st.error_message(), HasSubstr(c.message));
   }
   // Two channels are served; the third is refused; packets get a stream error and the
   // stream goes on.
   auto one = client.open(), two = client.open(), three = client.open();
   ASSERT_TRUE(one->arbitrate(1, 7) && one->next());
   ASSERT_TRUE(two->arbitrate(2, 7) && two->next() && one->next());
   ASSERT_TRUE(three->arbitrate(3, 7));
   EXPECT_FALSE(three->next());
   EXPECT_EQ(three->finish().error_code(), grpc::StatusCode::RESOURCE_EXHAUSTED);
   StreamMessageRequest packet;
   packet.mutable_packet()->set_payload("frame");
   ASSERT_TRUE(two->send(packet));
   std::optional<StreamMessageResponse> r = two->next();
   ASSERT_TRUE(r && r->has_error());
   EXPECT_EQ(r->error().canonical_code(), int(grpc::StatusCode::UNIMPLEMENTED));
   EXPECT_EQ(r->error().packet_out().packet_out().payload(), "frame");
   ASSERT_TRUE(two->arbitrate(4, 7));
   EXPECT_EQ(standing(*two), std::make_pair(kOk, uint64_t(4)));
}

}  // namespace
}  // namespace TwiceNatP4rtTest
