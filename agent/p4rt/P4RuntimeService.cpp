#include "agent/p4rt/P4RuntimeService.h"

#include <google/protobuf/arena.h>

#include <vector>

namespace TwiceNatP4rt {

namespace {

using p4::v1::StreamMessageRequest;
using p4::v1::StreamMessageResponse;

Pipeline pipelineOf(TwiceNatAgent::AgentCore& core) {
   std::lock_guard lock(core.lock());
   return Pipeline(core.vrfKeyField(), core.capacity());
}

grpc::Status asStatus(RpcError const& e) {
   return e.ok() ? grpc::Status::OK : grpc::Status(e.code, e.message);
}

// What a stream message other than an arbitration update gets: the pipeline has no packet
// I/O and no digests.
StreamMessageResponse streamError(StreamMessageRequest const& request) {
   StreamMessageResponse r;
   p4::v1::StreamError* e = r.mutable_error();
   e->set_canonical_code(int(Rpc::UNIMPLEMENTED));
   switch (request.update_case()) {
      case StreamMessageRequest::kPacket:
         e->set_message("the pipeline has no packet I/O: the packet is dropped");
         *e->mutable_packet_out()->mutable_packet_out() = request.packet();
         break;
      case StreamMessageRequest::kDigestAck:
         e->set_message("the pipeline has no digests");
         *e->mutable_digest_list_ack()->mutable_digest_list_ack() = request.digest_ack();
         break;
      default:
         e->set_message("a stream message of a kind this server does not serve");
         if (request.has_other())
            *e->mutable_other()->mutable_other() = request.other();
         else
            e->mutable_other();
   }
   return r;
}

}  // namespace

// Each Write's request and response on an arena that goes with the call, starting in a block
// of a small pool: the block's pages stay mapped from one Write to the next.
class P4RuntimeService::ArenaMessages
    : public grpc::MessageAllocator<p4::v1::WriteRequest, p4::v1::WriteResponse> {
   static constexpr std::size_t kBlockBytes = std::size_t(8) << 20;  // a batch of 10k updates
   static constexpr std::size_t kBlocksKept = 2;                     // two Writes in flight

   using Block = std::unique_ptr<char[]>;
   struct Holder : grpc::MessageHolder<p4::v1::WriteRequest, p4::v1::WriteResponse> {
      ArenaMessages& owner;
      Block block;
      google::protobuf::Arena arena;
      Holder(ArenaMessages& o, Block b) : owner(o), block(std::move(b)), arena(options(block)) {
         set_request(google::protobuf::Arena::CreateMessage<p4::v1::WriteRequest>(&arena));
         set_response(google::protobuf::Arena::CreateMessage<p4::v1::WriteResponse>(&arena));
      }
      static google::protobuf::ArenaOptions options(Block const& block) {
         google::protobuf::ArenaOptions o;
         o.initial_block = block.get();
         o.initial_block_size = kBlockBytes;
         o.start_block_size = 64 << 10;
         o.max_block_size = 1 << 20;
         return o;
      }
      void Release() override {
         ArenaMessages& o = owner;
         Block b = std::move(block);
         delete this;  // the arena goes before its first block is handed back
         o.giveBack(std::move(b));
      }
   };

   Block take() {
      {
         std::lock_guard lock(mutex_);
         if (!blocks_.empty()) {
            Block b = std::move(blocks_.back());
            blocks_.pop_back();
            return b;
         }
      }
      return Block(new char[kBlockBytes]);
   }
   void giveBack(Block b) {
      std::lock_guard lock(mutex_);
      if (blocks_.size() < kBlocksKept) blocks_.push_back(std::move(b));
   }

   std::mutex mutex_;
   std::vector<Block> blocks_;

 public:
   grpc::MessageHolder<p4::v1::WriteRequest, p4::v1::WriteResponse>* AllocateMessages() override {
      return new Holder(*this, take());
   }
};

P4RuntimeService::P4RuntimeService(TwiceNatAgent::AgentCore& core, ServiceOptions const& options)
    : arenas_(std::make_unique<ArenaMessages>()),
      core_(core),
      options_(options),
      pipeline_(pipelineOf(core)),
      arbitration_(options.deviceId, options.maxStreams),
      config_(pipeline_) {
   SetMessageAllocatorFor_Write(arenas_.get());
}

P4RuntimeService::~P4RuntimeService() = default;

grpc::Status P4RuntimeService::deviceRefusal(U64 deviceId) const {
   if (deviceId == options_.deviceId) return grpc::Status::OK;
   return grpc::Status(grpc::StatusCode::NOT_FOUND, "no device " + std::to_string(deviceId) +
                                                        " here: this agent serves device " +
                                                        std::to_string(options_.deviceId));
}

grpc::Status P4RuntimeService::Capabilities(grpc::ServerContext*,
                                            p4::v1::CapabilitiesRequest const*,
                                            p4::v1::CapabilitiesResponse* response) {
   response->set_p4runtime_api_version(kApiVersion);
   return grpc::Status::OK;
}

grpc::ServerUnaryReactor* P4RuntimeService::Write(grpc::CallbackServerContext* context,
                                                  p4::v1::WriteRequest const* request,
                                                  p4::v1::WriteResponse*) {
   grpc::ServerUnaryReactor* reactor = context->DefaultReactor();
   writeQueue_.post([this, request, reactor] { reactor->Finish(write(*request)); });
   return reactor;
}

grpc::Status P4RuntimeService::write(p4::v1::WriteRequest const& request) {
   // Held shared for the whole write: a change of primary waits for it.
   std::shared_lock gate(arbitration_.gate());
   RpcError const allowed = arbitration_.mayWrite(
       request.device_id(), request.role(), request.role_id(),
       electionOf(request.has_election_id() ? &request.election_id() : nullptr));
   if (!allowed.ok()) return asStatus(allowed);
   ++writes_;
   return applyWrite(core_, pipeline_, request, options_.write);
}

grpc::Status P4RuntimeService::Read(grpc::ServerContext* context,
                                    p4::v1::ReadRequest const* request,
                                    grpc::ServerWriter<p4::v1::ReadResponse>* writer) {
   if (grpc::Status s = deviceRefusal(request->device_id()); !s.ok()) return s;
   if (!request->role().empty()) {
      return grpc::Status(grpc::StatusCode::NOT_FOUND, "only the default role is served here");
   }
   return serveRead(core_, pipeline_, *request, options_.read, [&](p4::v1::ReadResponse const& r) {
      return !context->IsCancelled() && writer->Write(r);
   });
}

grpc::Status P4RuntimeService::SetForwardingPipelineConfig(
    grpc::ServerContext*, p4::v1::SetForwardingPipelineConfigRequest const* request,
    p4::v1::SetForwardingPipelineConfigResponse*) {
   std::shared_lock gate(arbitration_.gate());
   RpcError const allowed = arbitration_.mayWrite(
       request->device_id(), request->role(), request->role_id(),
       electionOf(request->has_election_id() ? &request->election_id() : nullptr));
   if (!allowed.ok()) return asStatus(allowed);
   return config_.set(core_, *request);
}

grpc::Status P4RuntimeService::GetForwardingPipelineConfig(
    grpc::ServerContext*, p4::v1::GetForwardingPipelineConfigRequest const* request,
    p4::v1::GetForwardingPipelineConfigResponse* response) {
   if (grpc::Status s = deviceRefusal(request->device_id()); !s.ok()) return s;
   config_.get(request->response_type(), *response->mutable_config());
   return grpc::Status::OK;
}

void P4RuntimeService::send(Arbitration::ClientId to, StreamMessageResponse const& message) {
   std::shared_ptr<Channel> channel;
   {
      std::lock_guard lock(channelsMutex_);
      auto it = channels_.find(to);
      if (it == channels_.end()) return;
      channel = it->second;
   }
   std::lock_guard writing(channel->writing);
   if (channel->stream) channel->stream->Write(message);  // a stream gone reports itself
}

void P4RuntimeService::sendNotices(std::vector<Arbitration::Notice> const& notices) {
   StreamMessageResponse r;
   for (Arbitration::Notice const& n : notices) {
      *r.mutable_arbitration() = n.update;
      send(n.to, r);
   }
}

void P4RuntimeService::leave(Arbitration::ClientId client) {
   std::lock_guard order(noticeOrder_);
   sendNotices(arbitration_.leave(client));
}

grpc::Status P4RuntimeService::StreamChannel(grpc::ServerContext*, Stream* stream) {
   Arbitration::ClientId const id = nextClient_++;
   auto channel = std::make_shared<Channel>();
   channel->stream = stream;
   {
      std::lock_guard lock(channelsMutex_);
      channels_[id] = channel;
   }
   grpc::Status ending = grpc::Status::OK;
   StreamMessageRequest request;
   while (stream->Read(&request)) {
      if (request.update_case() != StreamMessageRequest::kArbitration) {
         send(id, streamError(request));
         continue;
      }
      std::lock_guard order(noticeOrder_);
      Arbitration::Outcome const outcome = arbitration_.update(id, request.arbitration());
      sendNotices(outcome.notices);
      if (!outcome.error.ok()) {
         ending = asStatus(outcome.error);
         break;
      }
   }
   {
      std::lock_guard lock(channelsMutex_);
      channels_.erase(id);
   }
   {
      // No notice is written on the stream once its handler returns.
      std::lock_guard writing(channel->writing);
      channel->stream = nullptr;
   }
   leave(id);
   return ending;
}

}  // namespace TwiceNatP4rt
