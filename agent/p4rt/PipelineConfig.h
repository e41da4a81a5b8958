#pragma once
// The forwarding pipeline as P4Runtime configures it. The chip realises the table's pipeline
// from the start, so reads and writes are served before any configuration; a configuration is
// taken when its P4Info describes the table as this chip has it (Pipeline::mismatch), and
// refused with INVALID_ARGUMENT otherwise.
//
//   VERIFY                checks it; nothing changes.
//   VERIFY_AND_SAVE       checks and keeps it for a later COMMIT; the entries stay.
//   VERIFY_AND_COMMIT     checks it, makes it the one in force and clears the forwarding state:
//                         every entry is removed and the default action reset.
//   COMMIT                puts the saved one in force (NOT_FOUND when none is saved,
//                         INVALID_ARGUMENT when the request carries one); the entries stay, as
//                         replaying the writes since the save would leave them.
//   RECONCILE_AND_COMMIT  checks it and puts it in force keeping every entry: no chip write.
//
// The configuration in force (its P4Info, device config and cookie) is what Get returns; before
// any commit it is the table's own P4Info without a cookie. It lives as long as the process.
#include <mutex>
#include <optional>

#include <grpcpp/support/status.h>

#include "agent/core/AgentCore.h"
#include "agent/p4rt/Pipeline.h"
#include "p4/v1/p4runtime.pb.h"

namespace TwiceNatP4rt {

class PipelineConfig {
 public:
   explicit PipelineConfig(Pipeline const& pipeline) : pipeline_(pipeline) {}

   // The caller checked the device and that the client is the primary.
   grpc::Status set(TwiceNatAgent::AgentCore& core,
                    p4::v1::SetForwardingPipelineConfigRequest const& request);
   void get(p4::v1::GetForwardingPipelineConfigRequest::ResponseType type,
            p4::v1::ForwardingPipelineConfig& out) const;

 private:
   grpc::Status verified(p4::v1::SetForwardingPipelineConfigRequest const& request) const;
   // Every entry removed and the default reset, under the core's lock.
   grpc::Status clear(TwiceNatAgent::AgentCore& core) const;

   Pipeline const& pipeline_;
   mutable std::mutex mutex_;
   std::optional<p4::v1::ForwardingPipelineConfig> committed_, saved_;
};

}  // namespace TwiceNatP4rt
