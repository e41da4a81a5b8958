#include "agent/p4rt/WriteHandler.h"

#include <mutex>

#include "google/rpc/status.pb.h"

namespace TwiceNatP4rt {

namespace {

using TwiceNatAgent::BatchMode;
using TwiceNatAgent::BatchResult;
using TwiceNatAgent::Update;

RpcError resultOf(TwiceNatAgent::Status const& s) {
   return {rpcCodeOf(s.code), s.message};
}

// After a rollback: the update that failed keeps its error, every other one is ABORTED.
void rolledBack(std::vector<RpcError>& results, std::string const& rollbackFailure) {
   std::size_t failed = results.size();
   for (std::size_t i = 0; i < results.size() && failed == results.size(); ++i) {
      if (!results[i].ok() && results[i].code != Rpc::ABORTED) failed = i;
   }
   std::string const why = "not applied: the batch was undone at update " + std::to_string(failed);
   for (std::size_t i = 0; i < results.size(); ++i) {
      if (i == failed) continue;
      results[i] =
          rollbackFailure.empty()
              ? refused(Rpc::ABORTED, why)
              : refused(Rpc::INTERNAL, "the batch failed at update " + std::to_string(failed) +
                                           " and was only partly undone: " + rollbackFailure);
   }
}

}  // namespace

Rpc rpcCodeOf(TwiceNatAgent::Code code) {
   using TwiceNatAgent::Code;
   switch (code) {
      case Code::ok:
         return Rpc::OK;
      case Code::alreadyExists:
         return Rpc::ALREADY_EXISTS;
      case Code::notFound:
         return Rpc::NOT_FOUND;
      case Code::invalidArgument:
         return Rpc::INVALID_ARGUMENT;
      case Code::resourceExhausted:
         return Rpc::RESOURCE_EXHAUSTED;
      case Code::unavailable:
         return Rpc::UNAVAILABLE;
      case Code::unimplemented:
         return Rpc::UNIMPLEMENTED;
      case Code::aborted:
         return Rpc::ABORTED;
      case Code::internal:
         return Rpc::INTERNAL;
   }
   return Rpc::INTERNAL;
}

grpc::Status batchStatus(std::vector<RpcError> const& results, char const* part,
                         char const* parts) {
   std::size_t failed = 0, first = 0;
   for (std::size_t i = results.size(); i-- > 0;) {
      if (!results[i].ok()) {
         ++failed;
         first = i;
      }
   }
   if (failed == 0) return grpc::Status::OK;
   std::string const summary = std::to_string(failed) + " of " + std::to_string(results.size()) +
                               " " + parts + " failed; " + part + " " + std::to_string(first) +
                               ": " + rpcCodeName(results[first].code) + ": " +
                               results[first].message;
   google::rpc::Status details;
   details.set_code(int(Rpc::UNKNOWN));
   details.set_message(summary);
   p4::v1::Error error;
   for (RpcError const& r : results) {
      error.set_canonical_code(int(r.code));
      error.set_message(r.message);
      details.add_details()->PackFrom(error);
   }
   return grpc::Status(grpc::StatusCode::UNKNOWN, summary, details.SerializeAsString());
}

grpc::Status applyWrite(TwiceNatAgent::AgentCore& core, Pipeline const& p,
                        p4::v1::WriteRequest const& request, WriteLimits const& limits) {
   BatchMode mode = BatchMode::continueOnError;
   switch (request.atomicity()) {
      case p4::v1::WriteRequest::CONTINUE_ON_ERROR:
         break;
      case p4::v1::WriteRequest::ROLLBACK_ON_ERROR:
         mode = BatchMode::rollbackOnError;
         break;
      case p4::v1::WriteRequest::DATAPLANE_ATOMIC:
         return grpc::Status(grpc::StatusCode::UNIMPLEMENTED,
                             "DATAPLANE_ATOMIC is not served: the chip has no way to switch a "
                             "batch in at once (CONTINUE_ON_ERROR and ROLLBACK_ON_ERROR are)");
      default:
         return grpc::Status(grpc::StatusCode::INVALID_ARGUMENT,
                             "atomicity " + std::to_string(int(request.atomicity())) +
                                 ": CONTINUE_ON_ERROR, ROLLBACK_ON_ERROR or DATAPLANE_ATOMIC");
   }
   std::size_t const n = std::size_t(request.updates_size());
   if (n > limits.maxUpdates) {
      return grpc::Status(grpc::StatusCode::RESOURCE_EXHAUSTED,
                          "a batch of " + std::to_string(n) + " updates: at most " +
                              std::to_string(limits.maxUpdates) + " go in one Write");
   }
   bool const rollback = mode == BatchMode::rollbackOnError;
   std::vector<WriteOp> ops(n);
   std::vector<RpcError> results(n);
   bool anyRefused = false;
   for (std::size_t i = 0; i < n; ++i) {
      results[i] = toWriteOp(p, request.updates(int(i)), ops[i]);
      anyRefused |= !results[i].ok();
   }
   if (rollback && anyRefused) {
      // Nothing reaches the core: the first refused update is the batch's failure.
      rolledBack(results, {});
      return batchStatus(results, "update", "updates");
   }

   std::lock_guard lock(core.lock());
   std::unique_ptr<TwiceNatAgent::AgentCore::Transaction> tx = core.begin(mode);
   std::vector<Update> part;
   std::vector<std::size_t> index;
   part.reserve(n);
   index.reserve(n);
   bool failed = false;
   std::string rollbackFailure;
   auto flush = [&] {
      if (part.empty()) return;
      BatchResult const r = tx->apply(part);
      for (std::size_t j = 0; j < index.size(); ++j)
         results[index[j]] = resultOf(r.statuses[j]);
      if (rollback && !r.ok()) {
         failed = true;
         rollbackFailure = r.rollbackFailure;
      }
      part.clear();
      index.clear();
   };
   for (std::size_t i = 0; i < n && !failed; ++i) {
      if (!results[i].ok()) continue;
      Update& u = ops[i].update;
      if (ops[i].keepAction) {
         // The action of the entry as the updates before this one left it.
         flush();
         if (failed) break;
         std::optional<TwiceNatAgent::EntryRow> row = core.read(u.entry.match);
         if (!row) {
            results[i] = refused(Rpc::NOT_FOUND, "no such entry to modify");
            if (rollback) {
               rollbackFailure = tx->rollback().rollbackFailure;
               failed = true;
            }
            continue;
         }
         u.entry.action = row->entry.action;
      }
      part.push_back(u);
      index.push_back(i);
   }
   if (!failed) {
      flush();
      if (!failed) tx->commit();
   }
   if (failed) rolledBack(results, rollbackFailure);
   return batchStatus(results, "update", "updates");
}

}  // namespace TwiceNatP4rt
