#pragma once
// The P4Runtime service in the test's own process, over a core on a chip of its own, on a
// loopback port the system chose: for the cases that need the chip's fault injection, which
// is process-local.
#include <mutex>

#include "agent/p4rt/P4rtServer.h"
#include "p4rt/P4rtClient.h"
#include "support/CoreRig.h"

namespace TwiceNatP4rtTest {

class ServiceRig {
 public:
   struct Options {
      U64 deviceId = 0;
      std::size_t maxStreams = 16;
      std::size_t maxUpdates = 1000;
   };
   ServiceRig() : ServiceRig(Options()) {}
   explicit ServiceRig(Options const& o) {
      TwiceNatP4rt::ServiceOptions so;
      so.deviceId = o.deviceId;
      so.maxStreams = o.maxStreams;
      so.write.maxUpdates = o.maxUpdates;
      so.read.maxEntities = o.maxUpdates;
      so.read.page = 64;
      server_ = std::make_unique<TwiceNatP4rt::P4rtServer>(start_.s(), "127.0.0.1:0", so);
   }
   int port() const { return server_->port(); }
   TwiceNatAgent::AgentCore& core() { return start_.s(); }
   U64 count() {
      std::lock_guard lock(core().lock());
      return core().count();
   }

 private:
   TwiceNatCoreTest::Sdk sdk_;
   TwiceNatCoreTest::StateFiles files_{chip::Profile{.capacity = 4096}};
   TwiceNatCoreTest::Start start_{files_, sdk_};
   std::unique_ptr<TwiceNatP4rt::P4rtServer> server_;
};

}  // namespace TwiceNatP4rtTest
