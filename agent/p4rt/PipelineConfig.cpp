#include "agent/p4rt/PipelineConfig.h"

#include "agent/p4rt/WriteHandler.h"

namespace TwiceNatP4rt {

namespace {

using Request = p4::v1::SetForwardingPipelineConfigRequest;

grpc::Status invalid(std::string message) {
   return grpc::Status(grpc::StatusCode::INVALID_ARGUMENT, std::move(message));
}

}  // namespace

grpc::Status PipelineConfig::verified(Request const& request) const {
   if (!request.has_config() || !request.config().has_p4info()) {
      return invalid("the request carries no P4Info to configure the pipeline with");
   }
   std::string const why = pipeline_.mismatch(request.config().p4info());
   if (!why.empty()) return invalid("the chip cannot realise this pipeline: " + why);
   return grpc::Status::OK;
}

grpc::Status PipelineConfig::clear(TwiceNatAgent::AgentCore& core) const {
   std::lock_guard lock(core.lock());
   std::vector<TwiceNatAgent::EntryRow> rows;
   for (U64 cursor = core.readPage(0, 4096, {}, rows); cursor != 0;)
      cursor = core.readPage(cursor, 4096, {}, rows);
   std::vector<TwiceNatAgent::Update> batch;
   batch.reserve(rows.size() + 1);
   for (TwiceNatAgent::EntryRow const& row : rows)
      batch.push_back({TwiceNatAgent::UpdateKind::remove, row.entry});
   batch.push_back({TwiceNatAgent::UpdateKind::defaultReset, {}});
   TwiceNatAgent::BatchResult const r =
       core.apply(batch, TwiceNatAgent::BatchMode::continueOnError);
   for (TwiceNatAgent::Status const& s : r.statuses) {
      if (!s.ok()) {
         return grpc::Status(grpc::StatusCode(rpcCodeOf(s.code)),
                             "clearing the forwarding state stopped after removing " +
                                 std::to_string(r.removed) + " entries: " + s.message);
      }
   }
   return grpc::Status::OK;
}

grpc::Status PipelineConfig::set(TwiceNatAgent::AgentCore& core, Request const& request) {
   std::lock_guard lock(mutex_);
   switch (request.action()) {
      case Request::VERIFY:
         return verified(request);
      case Request::VERIFY_AND_SAVE: {
         grpc::Status s = verified(request);
         if (s.ok()) saved_ = request.config();
         return s;
      }
      case Request::VERIFY_AND_COMMIT: {
         grpc::Status s = verified(request);
         if (s.ok()) s = clear(core);
         if (s.ok()) {
            committed_ = request.config();
            saved_.reset();
         }
         return s;
      }
      case Request::COMMIT:
         if (request.has_config())
            return invalid(
                "COMMIT takes no configuration: it commits "
                "the one VERIFY_AND_SAVE saved");
         if (!saved_) {
            return grpc::Status(grpc::StatusCode::NOT_FOUND,
                                "no configuration was saved (VERIFY_AND_SAVE) to commit");
         }
         committed_ = std::move(saved_);
         saved_.reset();
         return grpc::Status::OK;
      case Request::RECONCILE_AND_COMMIT: {
         grpc::Status s = verified(request);
         if (s.ok()) {
            committed_ = request.config();
            saved_.reset();
         }
         return s;
      }
      default:
         return invalid("pipeline action " + std::to_string(int(request.action())) +
                        ": VERIFY, VERIFY_AND_SAVE, VERIFY_AND_COMMIT, COMMIT or "
                        "RECONCILE_AND_COMMIT");
   }
}

void PipelineConfig::get(p4::v1::GetForwardingPipelineConfigRequest::ResponseType type,
                         p4::v1::ForwardingPipelineConfig& out) const {
   using Get = p4::v1::GetForwardingPipelineConfigRequest;
   std::lock_guard lock(mutex_);
   if (committed_ && committed_->has_cookie()) *out.mutable_cookie() = committed_->cookie();
   if (type == Get::ALL || type == Get::P4INFO_AND_COOKIE) {
      *out.mutable_p4info() = committed_ ? committed_->p4info() : pipeline_.p4info();
   }
   if ((type == Get::ALL || type == Get::DEVICE_CONFIG_AND_COOKIE) && committed_) {
      out.set_p4_device_config(committed_->p4_device_config());
   }
}

}  // namespace TwiceNatP4rt
