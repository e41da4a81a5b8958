// The agent's service through its socket, over a real core on both back ends: every op answers
// with typed data, a streamed read meets every entry once while another client writes, and a
// client's open batch holds the table until it commits or goes.
#include <gmock/gmock.h>

#include <thread>

#include "agent/service/Client.h"
#include "agent/service/Server.h"
#include "agent/service/SocketService.h"
#include "support/CoreRig.h"

namespace TwiceNatServiceTest {
namespace {

using namespace TwiceNatService;
using namespace std::chrono_literals;
using ::testing::HasSubstr;
using TwiceNatCoreTest::entryOf;

class Served {
 public:
   explicit Served(bool bfrt) : files_(profile(bfrt)), start_(files_, sdk_) {
      thread_ = std::thread([this] {
         server_.run();
         server_.close();
      });
   }
   ~Served() {
      server_.stopIs();
      thread_.join();
   }
   std::unique_ptr<Client> client() const { return Client::connect(path_, 2s); }

 private:
   static chip::Profile profile(bool bfrt) {
      chip::Profile p;
      p.capacity = 8192;
      p.bfrt = bfrt;
      return p;
   }
   std::string path_ = TwiceNatTest::scratchFolder("svc") + "/s.sock";
   TwiceNatCoreTest::Sdk sdk_;
   TwiceNatCoreTest::StateFiles files_;
   TwiceNatCoreTest::Start start_;
   Handler handler_{*start_.core, Handler::Facts{"dir", {}, "0.1.0"}};
   SocketService service_{handler_};
   Server server_{service_, path_, ServerLimits{}, [](std::string const&) {}};
   std::thread thread_;
};

Request update(Op op, EntrySpec const& e) {
   Request q{op};
   q.entry = e;
   return q;
}

Request batch(Op op, BatchMode mode, std::vector<Update> updates) {
   Request q{op};
   q.mode = mode;
   q.updates = std::move(updates);
   return q;
}

Update put(U32 n) {
   return {UpdateKind::program, entryOf(n)};
}
Update drop(U32 n) {
   return {UpdateKind::remove, {entryOf(n).match, {}}};
}

bool held(Client& c, U32 n) {
   Request get{Op::get};
   get.keys = {entryOf(n).match};
   return c.call(get).rows.at(0).has_value();
}

class ServiceTest : public testing::TestWithParam<bool> {};

TEST_P(ServiceTest, EveryOpAnswersWithTypedData) {
   Served agent(GetParam());
   auto c = agent.client();
   Reply r = c->call(update(Op::program, entryOf(1)));
   EXPECT_TRUE(r.status.ok()) << r.status.message;
   EXPECT_EQ(r.programmed.change, Change::added);
   EXPECT_NE(r.programmed.handle, 0u);
   EXPECT_TRUE(r.taken && r.taken->vrfGiven && r.taken->vrf == 1);
   EXPECT_EQ(c->call(update(Op::insert, entryOf(1))).status.code, Code::alreadyExists);
   r = c->call(update(Op::modify, entryOf(2)));
   EXPECT_EQ(r.status.code, Code::notFound);
   EXPECT_EQ(r.status.message, "no entry dst 10.0.0.2 src 192.168.0.2 vrf 2 in the table");
   EXPECT_EQ(c->call(update(Op::defaultSet, entryOf(9))).programmed.change, Change::added);

   Request get{Op::get};
   get.keys = {entryOf(1).match, entryOf(2).match};
   get.withDefault = true;
   r = c->call(get);
   ASSERT_EQ(r.rows.size(), 2u);
   ASSERT_TRUE(r.rows[0]);
   EXPECT_EQ(r.rows[0]->entry.action, entryOf(1).action);
   EXPECT_EQ(r.rows[0]->origin, EntryOrigin::programmed);
   EXPECT_FALSE(r.rows[1]);
   EXPECT_EQ(r.defaultRow.value().entry.action, entryOf(9).action);
   r = c->call(Request{Op::status});
   EXPECT_EQ(r.figures.entries, 1u);
   EXPECT_EQ(r.figures.clients, 1u);

   // Batches: each update's status, a rollback that undoes the whole batch, a dry run that
   // changes nothing, and one in parts.
   r = c->call(batch(Op::apply, BatchMode::continueOnError, {put(3), drop(8), put(4)}));
   EXPECT_EQ(r.batch.added, 2u);
   ASSERT_EQ(r.batch.failures.size(), 1u);
   EXPECT_EQ(r.batch.failures[0].index, 1u);
   EXPECT_EQ(r.batch.failures[0].status.code, Code::notFound);
   r = c->call(batch(Op::apply, BatchMode::rollbackOnError, {put(5), drop(8), put(6)}));
   EXPECT_TRUE(r.batch.rolledBack);
   EXPECT_EQ(r.batch.aborted, 2u);
   EXPECT_EQ(r.batch.added, 0u);
   EXPECT_FALSE(held(*c, 5));
   r = c->call(batch(Op::apply, BatchMode::dryRun, {drop(3), put(6)}));
   EXPECT_EQ(r.batch.removed, 1u);
   EXPECT_EQ(r.batch.added, 1u);
   EXPECT_TRUE(held(*c, 3));
   EXPECT_FALSE(held(*c, 6));
   EXPECT_EQ(c->call(batch(Op::part, {}, {put(7)})).status.code, Code::invalidArgument);
   EXPECT_TRUE(c->call(batch(Op::begin, BatchMode::rollbackOnError, {})).status.ok());
   EXPECT_EQ(c->call(batch(Op::begin, BatchMode::rollbackOnError, {})).status.code,
             Code::invalidArgument);
   EXPECT_EQ(c->call(batch(Op::part, {}, {put(7)})).batch.added, 1u);
   EXPECT_EQ(c->call(Request{Op::commit}).batch.added, 1u);
   EXPECT_TRUE(held(*c, 7));

   r = c->call(Request{Op::clear});
   EXPECT_EQ(r.batch.removed, 4u);
   EXPECT_EQ(r.programmed.change, Change::removed);
   c->submit(Request{Op::show});
   Page page;
   EXPECT_FALSE(c->page(page));
   EXPECT_EQ(page.total, 0u);
   EXPECT_FALSE(page.defaultRow);
}

// Pages of 50 with a write of another client between any two: every entry present for the
// whole read is met exactly once, one added and removed meanwhile at most once.
TEST_P(ServiceTest, StreamedReadMeetsEachEntryOnceBesideAWriter) {
   Served agent(GetParam());
   auto reader = agent.client(), writer = agent.client();
   constexpr U32 kEntries = 3000, kChurn = 100000;
   for (U32 n = 0; n < kEntries; n += 1000) {
      std::vector<Update> fill;
      for (U32 i = n; i < n + 1000; ++i)
         fill.push_back(put(i));
      ASSERT_TRUE(writer->call(batch(Op::apply, {}, fill)).batch.failures.empty());
   }
   Request show{Op::show};
   show.pageSize = 50;
   reader->submit(show);
   std::map<U32, int> met;
   Page page;
   int pages = 0;
   for (bool more = true; more; ++pages) {
      more = reader->page(page);
      ASSERT_TRUE(page.status.ok());
      for (EntryRow const& row : page.rows)
         ++met[row.entry.match.dip - 0x0A000000u];
      U32 const k = U32(pages);
      Reply const w = writer->call(batch(
          Op::apply, {}, {put(kChurn + k), drop(kChurn + k - (k ? 1 : 0)), put(k % kEntries)}));
      EXPECT_TRUE(w.status.ok());
   }
   EXPECT_GT(pages, 50);
   for (U32 n = 0; n < kEntries; ++n)
      EXPECT_EQ(met[n], 1) << n;
   for (auto const& [n, times] : met)
      EXPECT_LE(times, 1) << n;
}

// An all-or-nothing batch holds the table: other writers are refused until it ends, and it is
// rolled back when its client goes without committing.
TEST_P(ServiceTest, OpenBatchHoldsTheTableUntilItsClientGoes) {
   Served agent(GetParam());
   auto holder = agent.client(), other = agent.client();
   ASSERT_TRUE(holder->call(batch(Op::begin, BatchMode::rollbackOnError, {})).status.ok());
   EXPECT_EQ(holder->call(batch(Op::part, {}, {put(1)})).batch.added, 1u);
   Reply const refused = other->call(update(Op::program, entryOf(2)));
   EXPECT_EQ(refused.status.code, Code::unavailable);
   EXPECT_THAT(refused.status.message, HasSubstr("all-or-nothing batch of another client"));
   EXPECT_EQ(other->call(batch(Op::apply, {}, {put(2)})).batch.failures.at(0).status.code,
             Code::unavailable);
   EXPECT_TRUE(held(*other, 1)) << "reads go on";
   holder.reset();
   Reply r;
   for (int i = 0; i < 200 && !r.programmed.handle; ++i) {
      r = other->call(update(Op::program, entryOf(2)));
      if (!r.status.ok()) std::this_thread::sleep_for(10ms);
   }
   EXPECT_TRUE(r.status.ok()) << r.status.message;
   EXPECT_FALSE(held(*other, 1));
}

INSTANTIATE_TEST_SUITE_P(BackEnds, ServiceTest, testing::Values(true, false),
                         [](auto const& info) { return info.param ? "Bfrt" : "Pd"; });

}  // namespace
}  // namespace TwiceNatServiceTest
