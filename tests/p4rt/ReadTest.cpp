// Read's forms and the pipeline configuration RPCs over the service.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "agent/p4rt/Pipeline.h"
#include "p4rt/ServiceRig.h"

namespace TwiceNatP4rtTest {
namespace {

using testing::ElementsAre;
using testing::HasSubstr;
using Code = grpc::StatusCode;
using Set = SetForwardingPipelineConfigRequest;

uint32_t dipOf(TableEntry const& e) {
   uint32_t v = 0;
   for (unsigned char c : e.match(0).exact().value())
      v = v << 8 | c;
   return v;
}

std::vector<uint32_t> dips(std::vector<TableEntry> const& entries) {
   std::vector<uint32_t> out;
   for (TableEntry const& e : entries)
      out.push_back(dipOf(e));
   std::sort(out.begin(), out.end());
   return out;
}

Entity entityOf(TableEntry const& e) {
   Entity out;
   *out.mutable_table_entry() = e;
   return out;
}

struct ReadTest : testing::Test {
   ServiceRig rig;
   P4rtClient client{rig.port()};
   std::unique_ptr<P4rtClient::Stream> stream = client.primary();
   // 200 entries: dip i, VRF i % 2, every third onMiss; more than three of the rig's pages of
   // 64.
   static TableEntry stored(uint32_t i) { return entryOf(i, 7, i % 2, i % 3 ? kHit : kOnMiss); }
   void SetUp() override {
      ASSERT_TRUE(stream);
      std::vector<Update> batch;
      for (uint32_t i = 1; i <= 200; ++i)
         batch.push_back(updateOf(Update::INSERT, stored(i)));
      ASSERT_TRUE(client.write(batch).ok());
   }
};

TEST_F(ReadTest, Forms) {
   // The default entry, every table, then one entry: each entity as it was written, however
   // the message it fills was used for the page before.
   TableEntry wildcard, def;
   def.set_table_id(kTable);
   def.set_is_default_action(true);
   std::vector<TableEntry> all =
       client.read({entityOf(def), entityOf(wildcard), entityOf(client.readAll().at(0))});
   ASSERT_EQ(all.size(), 202u);
   EXPECT_TRUE(all[0].is_default_action());
   EXPECT_EQ(all[0].match_size(), 0);
   all.erase(all.begin());
   for (TableEntry const& e : all)
      EXPECT_EQ(e.SerializeAsString(), stored(dipOf(e)).SerializeAsString()) << dipOf(e);

   // One entry by its full match; none for a key the table does not hold.
   std::vector<TableEntry> one = client.read(entryOf(5, 7, 1, 0));
   ASSERT_EQ(one.size(), 1u);
   EXPECT_EQ(one[0].SerializeAsString(), stored(5).SerializeAsString());
   EXPECT_TRUE(client.read(entryOf(5, 7, 0, 0)).empty());

   // Some match fields: those entries.
   TableEntry vrf1;
   vrf1.set_table_id(kTable);
   *vrf1.add_match() = entryOf(0, 0, 1).match(2);
   EXPECT_EQ(dips(client.read(vrf1)).size(), 100u);

   // The default entry: onMiss until one is set.
   std::vector<TableEntry> d = client.read(def);
   ASSERT_EQ(d.size(), 1u);
   EXPECT_EQ(d[0].action().action().action_id(), kOnMiss);

   // A refused entity gets its error; the others are answered.
   TableEntry bad;
   bad.set_table_id(99);
   grpc::Status s;
   std::vector<TableEntry> mixed =
       client.read({entityOf(entryOf(5, 7, 1, 0)), entityOf(bad), entityOf(def)}, &s);
   EXPECT_EQ(mixed.size(), 2u);
   EXPECT_EQ(s.error_code(), Code::UNKNOWN);
   std::vector<Error> errors = errorsOf(s);
   ASSERT_EQ(errors.size(), 3u);
   EXPECT_EQ(errors[0].canonical_code(), 0);
   EXPECT_EQ(errors[1].canonical_code(), int(Code::INVALID_ARGUMENT));

   P4rtClient(rig.port(), 4).read(def, &s);
   EXPECT_EQ(s.error_code(), Code::NOT_FOUND);
}

TEST_F(ReadTest, PipelineConfig) {
   TwiceNatP4rt::Pipeline const pipeline(true, rig.core().capacity());
   p4::config::v1::P4Info const ours = pipeline.p4info();
   grpc::Status s;
   ForwardingPipelineConfig got = client.getPipeline(&s);
   ASSERT_TRUE(s.ok());
   EXPECT_EQ(got.p4info().SerializeAsString(), ours.SerializeAsString());
   EXPECT_FALSE(got.has_cookie());

   p4::config::v1::P4Info other = ours;
   other.mutable_tables(0)->mutable_match_fields(0)->set_bitwidth(31);
   s = client.setPipeline(Set::VERIFY, other);
   EXPECT_EQ(s.error_code(), Code::INVALID_ARGUMENT);
   EXPECT_THAT(s.error_message(), HasSubstr("cannot realise this pipeline"));
   EXPECT_EQ(client.setPipeline(Set::VERIFY, std::nullopt).error_code(), Code::INVALID_ARGUMENT);
   EXPECT_EQ(client.setPipeline(Set::VERIFY, ours, 2).error_code(), Code::PERMISSION_DENIED);
   EXPECT_EQ(client.setPipeline(Set::COMMIT, std::nullopt).error_code(), Code::NOT_FOUND);

   // Saved, then committed: the entries stay, the cookie is the saved one's.
   EXPECT_TRUE(client.setPipeline(Set::VERIFY_AND_SAVE, ours, 1, 7).ok());
   EXPECT_EQ(client.setPipeline(Set::COMMIT, ours).error_code(), Code::INVALID_ARGUMENT);
   EXPECT_TRUE(client.setPipeline(Set::COMMIT, std::nullopt).ok());
   EXPECT_EQ(client.getPipeline(nullptr, GetForwardingPipelineConfigRequest::COOKIE_ONLY)
                 .cookie()
                 .cookie(),
             7u);
   EXPECT_EQ(rig.count(), 200u);

   // RECONCILE_AND_COMMIT keeps every entry; VERIFY_AND_COMMIT clears them and the default.
   p4::config::v1::P4Info documented = ours;
   documented.mutable_pkg_info()->set_version("2");
   EXPECT_TRUE(client.setPipeline(Set::RECONCILE_AND_COMMIT, documented, 1, 8).ok());
   EXPECT_EQ(rig.count(), 200u);
   got = client.getPipeline();
   EXPECT_EQ(got.cookie().cookie(), 8u);
   EXPECT_EQ(got.p4info().pkg_info().version(), "2");

   TableEntry def;
   def.set_table_id(kTable);
   def.set_is_default_action(true);
   *def.mutable_action() = entryOf(0, 0, 0, kEcmp).action();
   ASSERT_TRUE(client.write({updateOf(Update::MODIFY, def)}).ok());
   EXPECT_TRUE(client.setPipeline(Set::VERIFY_AND_COMMIT, ours, 1, 9).ok());
   EXPECT_EQ(rig.count(), 0u);
   def.clear_action();
   std::vector<TableEntry> d = client.read(def);
   ASSERT_EQ(d.size(), 1u);
   EXPECT_EQ(d[0].action().action().action_id(), kOnMiss);
}

}  // namespace
}  // namespace TwiceNatP4rtTest
