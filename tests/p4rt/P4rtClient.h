#pragma once
// A P4Runtime client for the tests: every call and every stream has a deadline (a server that
// never answers fails the test instead of hanging it), entries are made from plain values, and
// a failed Write's per-update errors are unpacked.
#include <grpcpp/grpcpp.h>
#include <gtest/gtest.h>

#include <chrono>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "agent/p4rt/Bytestrings.h"
#include "google/rpc/status.pb.h"
#include "p4/v1/p4runtime.grpc.pb.h"

namespace TwiceNatP4rtTest {

using namespace p4::v1;

// The P4Info's ids (pinned by PipelineTest).
constexpr uint32_t kTable = 0x0216a7cc, kOnMiss = 0x01a2dafd, kHit = 0x01518192, kEcmp = 0x01f75fe4;

inline std::string bytesOf(uint32_t v) {
   std::string s;
   TwiceNatP4rt::encodeBits(v, s);
   return s;
}

// An entry of a chip with the VRF key field; `action` 0 leaves the action out.
inline TableEntry entryOf(uint32_t dip, uint32_t sip, uint32_t vrf, uint32_t action = kHit,
                          uint32_t target = 1) {
   TableEntry e;
   e.set_table_id(kTable);
   uint32_t const key[3] = {dip, sip, vrf};
   for (uint32_t f = 0; f < 3; ++f) {
      FieldMatch* m = e.add_match();
      m->set_field_id(f + 1);
      m->mutable_exact()->set_value(bytesOf(key[f]));
   }
   if (action == 0) return e;
   Action* a = e.mutable_action()->mutable_action();
   a->set_action_id(action);
   uint32_t const params[5] = {dip & 0xFFFF, 2, 6, 0, target};
   for (uint32_t p = 0; action != kOnMiss && p < 5; ++p) {
      Action::Param* param = a->add_params();
      param->set_param_id(p + 1);
      param->set_value(bytesOf(params[p]));
   }
   return e;
}

inline Update updateOf(Update::Type type, TableEntry const& e) {
   Update u;
   u.set_type(type);
   *u.mutable_entity()->mutable_table_entry() = e;
   return u;
}

inline std::chrono::system_clock::time_point deadline(int seconds = 30) {
   return std::chrono::system_clock::now() + std::chrono::seconds(seconds);
}

class P4rtClient {
 public:
   // Its requests name `device`.
   explicit P4rtClient(int port, uint64_t device = 0)
       : device_(device),
         stub_(P4Runtime::NewStub(grpc::CreateChannel("127.0.0.1:" + std::to_string(port),
                                                      grpc::InsecureChannelCredentials()))) {}
   P4Runtime::Stub& stub() { return *stub_; }

   // A stream channel; it ends (cancelled) when the object goes.
   class Stream {
    public:
      explicit Stream(P4Runtime::Stub& stub) {
         context_.set_deadline(deadline(60));
         stream_ = stub.StreamChannel(&context_);
      }
      ~Stream() { context_.TryCancel(); }
      bool arbitrate(std::optional<uint64_t> low, uint64_t device = 0, std::string role = "") {
         StreamMessageRequest r;
         MasterArbitrationUpdate* a = r.mutable_arbitration();
         a->set_device_id(device);
         if (low) a->mutable_election_id()->set_low(*low);
         if (!role.empty()) a->mutable_role()->set_name(role);
         return stream_->Write(r);
      }
      bool send(StreamMessageRequest const& r) { return stream_->Write(r); }
      // The next message; nothing when the stream ended (or its deadline passed).
      std::optional<StreamMessageResponse> next() {
         StreamMessageResponse r;
         if (!stream_->Read(&r)) return std::nullopt;
         return r;
      }
      // The status the server ended the stream with.
      grpc::Status finish() { return stream_->Finish(); }

    private:
      grpc::ClientContext context_;
      std::unique_ptr<grpc::ClientReaderWriter<StreamMessageRequest, StreamMessageResponse>>
          stream_;
   };
   std::unique_ptr<Stream> open() { return std::make_unique<Stream>(*stub_); }

   // A stream whose client is the primary with `election`.
   std::unique_ptr<Stream> primary(uint64_t election = 1) {
      auto s = open();
      if (!s->arbitrate(election, device_)) return nullptr;
      std::optional<StreamMessageResponse> r = s->next();
      if (!r || r->arbitration().status().code() != 0) return nullptr;
      return s;
   }

   grpc::Status write(std::vector<Update> const& updates, uint64_t election = 1,
                      WriteRequest::Atomicity atomicity = WriteRequest::CONTINUE_ON_ERROR) {
      WriteRequest w;
      w.set_device_id(device_);
      w.mutable_election_id()->set_low(election);
      w.set_atomicity(atomicity);
      for (Update const& u : updates)
         *w.add_updates() = u;
      return write(w);
   }
   grpc::Status write(WriteRequest const& w) {
      grpc::ClientContext c;
      c.set_deadline(deadline());
      WriteResponse r;
      return stub_->Write(&c, w, &r);
   }

   // The entities a read returned, in order; `status` gets how it ended.
   std::vector<TableEntry> read(std::vector<Entity> const& entities,
                                grpc::Status* status = nullptr) {
      ReadRequest req;
      req.set_device_id(device_);
      for (Entity const& e : entities)
         *req.add_entities() = e;
      grpc::ClientContext c;
      c.set_deadline(deadline());
      auto reader = stub_->Read(&c, req);
      std::vector<TableEntry> out;
      ReadResponse r;
      while (reader->Read(&r))
         for (Entity const& e : r.entities())
            out.push_back(e.table_entry());
      grpc::Status s = reader->Finish();
      if (status) *status = s;
      return out;
   }
   std::vector<TableEntry> read(TableEntry const& query, grpc::Status* status = nullptr) {
      Entity e;
      *e.mutable_table_entry() = query;
      return read(std::vector<Entity>{e}, status);
   }
   std::vector<TableEntry> readAll() {
      TableEntry q;
      q.set_table_id(kTable);
      grpc::Status s;
      std::vector<TableEntry> all = read(q, &s);
      EXPECT_TRUE(s.ok()) << s.error_message();
      return all;
   }

   grpc::Status setPipeline(SetForwardingPipelineConfigRequest::Action action,
                            std::optional<p4::config::v1::P4Info> const& p4info,
                            uint64_t election = 1, std::optional<uint64_t> cookie = {}) {
      SetForwardingPipelineConfigRequest req;
      req.set_device_id(device_);
      req.mutable_election_id()->set_low(election);
      req.set_action(action);
      if (p4info) *req.mutable_config()->mutable_p4info() = *p4info;
      if (cookie) req.mutable_config()->mutable_cookie()->set_cookie(*cookie);
      grpc::ClientContext c;
      c.set_deadline(deadline());
      SetForwardingPipelineConfigResponse r;
      return stub_->SetForwardingPipelineConfig(&c, req, &r);
   }
   ForwardingPipelineConfig getPipeline(grpc::Status* status = nullptr,
                                        GetForwardingPipelineConfigRequest::ResponseType type =
                                            GetForwardingPipelineConfigRequest::ALL) {
      GetForwardingPipelineConfigRequest req;
      req.set_device_id(device_);
      req.set_response_type(type);
      grpc::ClientContext c;
      c.set_deadline(deadline());
      GetForwardingPipelineConfigResponse r;
      grpc::Status s = stub_->GetForwardingPipelineConfig(&c, req, &r);
      if (status) *status = s;
      return r.config();
   }

 private:
   uint64_t device_;
   std::unique_ptr<P4Runtime::Stub> stub_;
};

// The per-update errors of a failed Write (or per-entity errors of a Read), in order.
inline std::vector<Error> errorsOf(grpc::Status const& s) {
   std::vector<Error> out;
   google::rpc::Status details;
   if (!details.ParseFromString(s.error_details())) return out;
   for (auto const& any : details.details()) {
      Error e;
      if (any.UnpackTo(&e)) out.push_back(e);
   }
   return out;
}

}  // namespace TwiceNatP4rtTest
