// A real 'twicenat serve --p4rt' on a loopback port it chose: each RPC from a client, the socket
// commands beside it, reads while another client writes, malformed requests, and a kill -9 of
// the agent after which a new one serves every entry.
#include <gmock/gmock.h>
#include <grpcpp/generic/generic_stub.h>
#include <gtest/gtest.h>

#include <atomic>
#include <regex>
#include <set>
#include <thread>

#include "p4rt/P4rtClient.h"
#include "support/ChildProcess.h"
#include "support/Scratch.h"

namespace TwiceNatP4rtTest {
namespace {

using testing::HasSubstr;
using Code = grpc::StatusCode;

struct State {
   std::string dir = TwiceNatTest::scratchFolder("p4rt");
   std::vector<std::string> argv(std::vector<std::string> const& words) const {
      std::vector<std::string> a{TWICENAT_BIN_DIR "/twicenat", "--state", dir + "/state"};
      a.insert(a.end(), words.begin(), words.end());
      return a;
   }
   std::string run(std::vector<std::string> const& words) const {
      TwiceNatTest::ChildProcess p(argv(words), dir + "/run");
      EXPECT_EQ(p.wait(), 0) << p.err();
      return p.out();
   }
};

// serve --p4rt on a port of its choosing, ready, with that port.
struct Serve : TwiceNatTest::ChildProcess {
   static inline int serial = 0;  // each its own output files: a new one never reads the last's
   int port = 0;
   explicit Serve(State const& st, std::vector<std::string> more = {})
       : ChildProcess(st.argv([&] {
            std::vector<std::string> w{"serve", "--p4rt", "127.0.0.1:0"};
            w.insert(w.end(), more.begin(), more.end());
            return w;
         }()),
                      st.dir + "/serve" + std::to_string(++serial)) {
      EXPECT_TRUE(ready()) << err();
      std::smatch m;
      std::string const said = err();
      if (std::regex_search(said, m, std::regex("P4Runtime for device \\d+ on 127.0.0.1:(\\d+)")))
         port = std::stoi(m[1]);
      EXPECT_NE(port, 0) << said;
   }
};

// The keys (dip) of the entries a wildcard read returned; a key met twice fails the test.
std::set<uint32_t> keysOf(std::vector<TableEntry> const& entries) {
   std::set<uint32_t> keys;
   for (TableEntry const& e : entries) {
      uint32_t dip = 0;
      for (unsigned char c : e.match(0).exact().value())
         dip = dip << 8 | c;
      EXPECT_TRUE(keys.insert(dip).second) << "entry " << dip << " read twice";
   }
   return keys;
}

TEST(ServeTest, EachRpcBesideTheSocket) {
   State st;
   st.run({"chip", "create", "--capacity", "5000"});
   Serve serve(st, {"--device-id", "3"});
   P4rtClient client(serve.port, 3);

   grpc::ClientContext c;
   c.set_deadline(deadline());
   CapabilitiesResponse caps;
   ASSERT_TRUE(client.stub().Capabilities(&c, CapabilitiesRequest(), &caps).ok());
   EXPECT_EQ(caps.p4runtime_api_version(), "1.3.0");

   auto primary = client.primary();
   ASSERT_TRUE(primary);
   ASSERT_TRUE(client.write({updateOf(Update::INSERT, entryOf(0x0A000001, 0xC0A80101, 1))}).ok());
   EXPECT_THAT(st.run({"show", "--dst", "10.0.0.1"}), HasSubstr("hit    keyId=1 rwId=2 prot=6"));
   st.run({"set", "--dst", "10.0.0.2", "--src", "192.168.1.1", "--vrf", "1", "--action", "onMiss"});
   std::set<uint32_t> actions;
   for (TableEntry const& e : client.read(TableEntry()))
      actions.insert(e.action().action().action_id());
   EXPECT_EQ(actions, (std::set<uint32_t>{kHit, kOnMiss}));

   ForwardingPipelineConfig got = client.getPipeline();
   EXPECT_EQ(got.p4info().tables(0).preamble().id(), kTable);
   EXPECT_EQ(got.p4info().tables(0).size(), 5000);
   ASSERT_TRUE(
       client.setPipeline(SetForwardingPipelineConfigRequest::RECONCILE_AND_COMMIT, got.p4info())
           .ok());
   EXPECT_THAT(st.run({"status"}), HasSubstr("2 entries"));
   // Device 0 is not this agent's.
   EXPECT_EQ(
       P4rtClient(serve.port).write({updateOf(Update::DELETE, entryOf(1, 1, 1))}).error_code(),
       Code::NOT_FOUND);
   st.run({"stop"});
   EXPECT_EQ(serve.wait(), 0);
}

// Bytes that are no protobuf, a client that goes away mid-read, and a huge batch: each gets
// its answer, and the agent goes on serving with the table as it was.
TEST(ServeTest, BadInputNeverStopsIt) {
   State st;
   st.run({"chip", "create", "--capacity", "20000"});
   Serve serve(st);
   P4rtClient client(serve.port);
   auto primary = client.primary();
   ASSERT_TRUE(primary);
   std::vector<Update> batch;
   for (uint32_t i = 0; i < 10000; ++i)
      batch.push_back(updateOf(Update::INSERT, entryOf(i, 1, 1)));
   ASSERT_TRUE(client.write(batch).ok());

   auto channel = grpc::CreateChannel("127.0.0.1:" + std::to_string(serve.port),
                                      grpc::InsecureChannelCredentials());
   grpc::GenericStub generic(channel);
   for (std::string const method : {"Write", "Read", "SetForwardingPipelineConfig"}) {
      grpc::ClientContext c;
      c.set_deadline(deadline());
      // A length-delimited field whose length runs past the end.
      static constexpr char kJunk[] = "\x0a\xff\xff\xff\xff\x0f garbage";
      grpc::Slice junk(std::string(kJunk, sizeof kJunk - 1));
      grpc::ByteBuffer in(&junk, 1), out;
      std::mutex m;
      std::condition_variable cv;
      bool finished = false;
      grpc::Status status;
      generic.UnaryCall(&c, "/p4.v1.P4Runtime/" + method, grpc::StubOptions(), &in, &out,
                        [&](grpc::Status s) {
                           std::lock_guard lock(m);
                           status = s;
                           finished = true;
                           cv.notify_all();
                        });
      std::unique_lock lock(m);
      ASSERT_TRUE(cv.wait_for(lock, std::chrono::seconds(30), [&] { return finished; }));
      EXPECT_FALSE(status.ok()) << method;
   }

   // A reader that stops after its first message and goes.
   for (int i = 0; i < 3; ++i) {
      ReadRequest r;
      r.add_entities()->mutable_table_entry()->set_table_id(kTable);
      grpc::ClientContext rc;
      rc.set_deadline(deadline());
      auto reader = client.stub().Read(&rc, r);
      ReadResponse first;
      ASSERT_TRUE(reader->Read(&first));
      rc.TryCancel();
   }
   // A batch over the limit.
   WriteRequest huge;
   huge.mutable_election_id()->set_low(1);
   for (uint32_t i = 0; i < 100001; ++i)
      *huge.add_updates() = updateOf(Update::DELETE, entryOf(i % 10000, 1, 1, 0));
   EXPECT_EQ(client.write(huge).error_code(), Code::RESOURCE_EXHAUSTED);
   EXPECT_EQ(keysOf(client.readAll()).size(), 10000u);
}

// A reader's wildcard reads while another client inserts and deletes: each read meets every
// entry that stays for the whole read exactly once, and reads go on between the writer's
// batches.
TEST(ServeTest, ReadsDuringWrites) {
   State st;
   st.run({"chip", "create", "--capacity", "20000"});
   Serve serve(st);
   P4rtClient writer(serve.port), reader(serve.port);
   auto primary = writer.primary();
   ASSERT_TRUE(primary);
   std::vector<Update> stay;
   for (uint32_t i = 0; i < 5000; ++i)
      stay.push_back(updateOf(Update::INSERT, entryOf(i * 2, 1, 1)));
   ASSERT_TRUE(writer.write(stay).ok());

   std::atomic<bool> done = false;
   std::atomic<int> batches = 0;
   std::thread churn([&] {
      for (int round = 0; !done && round < 2000; ++round) {
         std::vector<Update> in, out;
         for (uint32_t i = 0; i < 500; ++i) {
            in.push_back(updateOf(Update::INSERT, entryOf(i * 2 + 1, 1, 1)));
            out.push_back(updateOf(Update::DELETE, entryOf(i * 2 + 1, 1, 1, 0)));
         }
         EXPECT_TRUE(writer.write(in).ok());
         EXPECT_TRUE(writer.write(out).ok());
         batches += 2;
      }
   });
   for (int i = 0; i < 20; ++i) {
      std::set<uint32_t> const keys = keysOf(reader.readAll());
      for (uint32_t k = 0; k < 10000; k += 2)
         ASSERT_TRUE(keys.count(k)) << k;
      for (uint32_t k : keys)
         EXPECT_TRUE(k % 2 == 0 || k < 1000) << k;
   }
   done = true;
   churn.join();
   EXPECT_GT(batches, 0);
}

// kill -9 of the agent while a client writes, and a new agent: every entry whose Write was
// answered is served, and RECONCILE_AND_COMMIT keeps them.
TEST(ServeTest, KilledAgentsEntriesServedByTheNext) {
   State st;
   st.run({"chip", "create", "--capacity", "200000"});
   std::set<uint32_t> answered;
   {
      Serve serve(st);
      P4rtClient client(serve.port);
      auto primary = client.primary();
      ASSERT_TRUE(primary);
      std::atomic<uint32_t> batches = 0;
      std::thread killer([&] {
         while (batches < 20)
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
         serve.signal(SIGKILL);
      });
      for (uint32_t b = 0; b < 1000; ++b) {
         std::vector<Update> batch;
         for (uint32_t i = 0; i < 100; ++i)
            batch.push_back(updateOf(Update::INSERT, entryOf(b * 100 + i, 2, 3)));
         if (!client.write(batch).ok()) break;
         for (uint32_t i = 0; i < 100; ++i)
            answered.insert(b * 100 + i);
         ++batches;
      }
      killer.join();
      serve.wait();
   }
   ASSERT_LT(answered.size(), 100000u) << "the agent was killed after the last write";
   Serve next(st);
   P4rtClient client(next.port);
   std::set<uint32_t> const served = keysOf(client.readAll());
   for (uint32_t k : answered)
      ASSERT_TRUE(served.count(k)) << "entry " << k << " lost";
   auto primary = client.primary(1);
   ASSERT_TRUE(primary);
   ForwardingPipelineConfig config = client.getPipeline();
   ASSERT_TRUE(
       client.setPipeline(SetForwardingPipelineConfigRequest::RECONCILE_AND_COMMIT, config.p4info())
           .ok());
   EXPECT_EQ(keysOf(client.readAll()), served);
}

}  // namespace
}  // namespace TwiceNatP4rtTest
