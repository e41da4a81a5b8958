#pragma once
// The Read RPC's work: each entity of the request translated to a query and answered from the
// core, in messages of at most `page` entities. A wildcard read walks the table a page at a
// time and takes the core's lock for each page only, so a writer waits for one page at most,
// never for the whole read; an entry present for the whole read is met exactly once. A
// refused entity gets its p4.v1.Error in the final status (UNKNOWN), the others are answered.
#include <functional>

#include <grpcpp/support/status.h>

#include "agent/core/AgentCore.h"
#include "agent/p4rt/Pipeline.h"
#include "p4/v1/p4runtime.pb.h"

namespace TwiceNatP4rt {

struct ReadLimits {
   std::size_t page = 1024;           // entities per message
   std::size_t maxEntities = 100000;  // in one request
};

// `send` returns false when the client went away (the read then ends CANCELLED).
using ReadSink = std::function<bool(p4::v1::ReadResponse const&)>;

grpc::Status serveRead(TwiceNatAgent::AgentCore& core, Pipeline const& pipeline,
                       p4::v1::ReadRequest const& request, ReadLimits const& limits,
                       ReadSink const& send);

}  // namespace TwiceNatP4rt
