#pragma once
// The P4Runtime service over the agent's core: one device (the chip), the default role, the
// table's pipeline. Each RPC runs on a gRPC thread; the library's operations never overlap
// because every call into the core is made under the core's lock, which the socket server
// takes too.
//
// Limits, each refused with its code and the state untouched: a Write of more than
// `write.maxUpdates` updates or a Read of more than `read.maxEntities` entities is refused
// whole (RESOURCE_EXHAUSTED), as is a stream channel beyond `maxStreams`; a message larger
// than the server's receive limit is refused by gRPC (RESOURCE_EXHAUSTED).
#include <atomic>
#include <map>
#include <memory>
#include <mutex>

#include "agent/core/AgentCore.h"
#include "agent/p4rt/Arbitration.h"
#include "agent/p4rt/PipelineConfig.h"
#include "agent/p4rt/ReadHandler.h"
#include "agent/p4rt/WriteHandler.h"
#include "agent/p4rt/WriteQueue.h"
#include "p4/v1/p4runtime.grpc.pb.h"

namespace TwiceNatP4rt {

constexpr char const* kApiVersion = "1.3.0";

struct ServiceOptions {
   U64 deviceId = 0;
   std::size_t maxStreams = 16;
   WriteLimits write;
   ReadLimits read;
};

// Write is served through gRPC's callback interface, whose request is parsed onto an arena of
// its own: a batch of many updates is parsed without a heap allocation per field. The arenas
// start in blocks kept from one Write to the next, so a batch does not fault in fresh pages, and
// the write itself is carried out on the write queue's thread while gRPC parses the next one.
class P4RuntimeService final
    : public p4::v1::P4Runtime::WithCallbackMethod_Write<p4::v1::P4Runtime::Service> {
 public:
   P4RuntimeService(TwiceNatAgent::AgentCore& core, ServiceOptions const& options);
   ~P4RuntimeService() override;

   grpc::Status Capabilities(grpc::ServerContext*, p4::v1::CapabilitiesRequest const*,
                             p4::v1::CapabilitiesResponse* response) override;
   grpc::ServerUnaryReactor* Write(grpc::CallbackServerContext* context,
                                   p4::v1::WriteRequest const* request,
                                   p4::v1::WriteResponse*) override;
   grpc::Status Read(grpc::ServerContext* context, p4::v1::ReadRequest const* request,
                     grpc::ServerWriter<p4::v1::ReadResponse>* writer) override;
   grpc::Status SetForwardingPipelineConfig(
       grpc::ServerContext*, p4::v1::SetForwardingPipelineConfigRequest const* request,
       p4::v1::SetForwardingPipelineConfigResponse*) override;
   grpc::Status GetForwardingPipelineConfig(
       grpc::ServerContext*, p4::v1::GetForwardingPipelineConfigRequest const* request,
       p4::v1::GetForwardingPipelineConfigResponse* response) override;
   grpc::Status StreamChannel(
       grpc::ServerContext* context,
       grpc::ServerReaderWriter<p4::v1::StreamMessageResponse, p4::v1::StreamMessageRequest>*
           stream) override;

   Pipeline const& pipeline() const { return pipeline_; }
   U64 writesServed() const { return writes_; }

 private:
   using Stream =
       grpc::ServerReaderWriter<p4::v1::StreamMessageResponse, p4::v1::StreamMessageRequest>;
   // A stream others may send notices on; its mutex keeps one write at a time.
   struct Channel {
      Stream* stream;
      std::mutex writing;
   };
   void send(Arbitration::ClientId to, p4::v1::StreamMessageResponse const& message);
   void sendNotices(std::vector<Arbitration::Notice> const& notices);
   // Ends `client`'s part in arbitration and tells the others what changed.
   void leave(Arbitration::ClientId client);
   grpc::Status deviceRefusal(U64 deviceId) const;
   grpc::Status write(p4::v1::WriteRequest const& request);

   class ArenaMessages;
   std::unique_ptr<ArenaMessages> arenas_;
   TwiceNatAgent::AgentCore& core_;
   ServiceOptions options_;
   Pipeline pipeline_;
   Arbitration arbitration_;
   PipelineConfig config_;
   std::mutex noticeOrder_;  // arbitration changes and their notices, one sequence at a time
   std::mutex channelsMutex_;
   std::map<Arbitration::ClientId, std::shared_ptr<Channel>> channels_;
   std::atomic<Arbitration::ClientId> nextClient_{1};
   std::atomic<U64> writes_{0};
   // Last, so that it is gone (its writes carried out) before what they use.
   WriteQueue writeQueue_;
};

}  // namespace TwiceNatP4rt
