#pragma once
// The Write RPC's work once arbitration let the request in: the updates translated, applied to
// the core as one batch under its lock, and the answer P4Runtime gives. OK when every update
// took; otherwise UNKNOWN with one p4.v1.Error per update, in order, in the status details
// (OK for those that took). CONTINUE_ON_ERROR tries every update; ROLLBACK_ON_ERROR undoes
// the batch at its first failure (that update keeps its error, every other one is ABORTED);
// DATAPLANE_ATOMIC is UNIMPLEMENTED, as is any other atomicity. A batch of more updates than
// the limit is refused whole with RESOURCE_EXHAUSTED before anything is applied.
#include <grpcpp/support/status.h>

#include "agent/core/AgentCore.h"
#include "agent/p4rt/EntryTranslation.h"

namespace TwiceNatP4rt {

struct WriteLimits {
   std::size_t maxUpdates = 100000;
};

grpc::Status applyWrite(TwiceNatAgent::AgentCore& core, Pipeline const& pipeline,
                        p4::v1::WriteRequest const& request, WriteLimits const& limits);

// The canonical code of a core outcome.
Rpc rpcCodeOf(TwiceNatAgent::Code code);

// UNKNOWN with one p4.v1.Error per result in the details, or OK when all are OK. The message
// counts the failures and names the first: "2 of 5 updates failed; update 1: NOT_FOUND: ...".
grpc::Status batchStatus(std::vector<RpcError> const& results, char const* part, char const* parts);

}  // namespace TwiceNatP4rt
