// A small P4Runtime client of the twiceNatAddrOnly table, as any controller would write one:
// it learns the ids from the P4Info the server gives, becomes the primary on a stream channel,
// and then inserts, modifies, deletes or reads entries.
//
//   p4rt-client [--address HOST:PORT] [--device N] [--election N] COMMAND
//     insert|modify DST SRC [VRF] ACTION    ACTION: onMiss | hit KEY RW PROT FRAG NEXTHOP
//     delete DST SRC [VRF]                          | ecmp KEY RW PROT FRAG GROUP
//     read [DST SRC [VRF]]                  all entries, or one
//     default ACTION | default-reset        the default action
//
// The VRF is given exactly when the server's P4Info has the l3InfoVrfId field.
#include <arpa/inet.h>
#include <grpcpp/grpcpp.h>

#include <chrono>
#include <cstdlib>
#include <iostream>
#include <map>
#include <string>
#include <vector>

#include "p4/v1/p4runtime.grpc.pb.h"

namespace {

using namespace p4::v1;

struct Usage {
   std::string why;
};

// The ids of the P4Info, by name.
struct Ids {
   uint32_t table = 0;
   std::map<std::string, uint32_t> actions;  // by alias
   std::map<uint32_t, std::string> actionNames;
   std::map<uint32_t, int> paramCount;
   int fields = 0;
};

std::string bytesOf(uint64_t v) {  // shortest big-endian, "\0" for zero
   std::string s;
   do {
      s.insert(s.begin(), char(v & 0xFF));
      v >>= 8;
   } while (v);
   return s;
}

uint64_t valueOf(std::string const& bytes) {
   uint64_t v = 0;
   for (unsigned char c : bytes)
      v = v << 8 | c;
   return v;
}

uint64_t number(std::string const& text) {
   char* end = nullptr;
   uint64_t v = std::strtoull(text.c_str(), &end, 0);
   if (text.empty() || *end) throw Usage{"'" + text + "' is not a number"};
   return v;
}

uint32_t address(std::string const& text) {
   in_addr a;
   if (inet_pton(AF_INET, text.c_str(), &a) != 1) throw Usage{"'" + text + "' is no IPv4 address"};
   return ntohl(a.s_addr);
}

std::string dotted(uint64_t v) {
   return std::to_string(v >> 24 & 255) + "." + std::to_string(v >> 16 & 255) + "." +
          std::to_string(v >> 8 & 255) + "." + std::to_string(v & 255);
}

std::unique_ptr<grpc::ClientContext> context() {
   auto c = std::make_unique<grpc::ClientContext>();
   c->set_deadline(std::chrono::system_clock::now() + std::chrono::seconds(30));
   return c;
}

void check(grpc::Status const& s, std::string const& what) {
   if (!s.ok()) {
      std::cerr << "p4rt-client: " << what << ": " << s.error_message() << "\n";
      std::exit(1);
   }
}

Ids idsOf(P4Runtime::Stub& stub, uint64_t device) {
   GetForwardingPipelineConfigRequest req;
   req.set_device_id(device);
   req.set_response_type(GetForwardingPipelineConfigRequest::P4INFO_AND_COOKIE);
   GetForwardingPipelineConfigResponse resp;
   check(stub.GetForwardingPipelineConfig(context().get(), req, &resp), "P4Info");
   Ids ids;
   auto const& info = resp.config().p4info();
   for (auto const& t : info.tables()) {
      if (t.preamble().alias() != "twiceNatAddrOnly") continue;
      ids.table = t.preamble().id();
      ids.fields = t.match_fields_size();
   }
   for (auto const& a : info.actions()) {
      ids.actions[a.preamble().alias()] = a.preamble().id();
      ids.actionNames[a.preamble().id()] = a.preamble().alias();
      ids.paramCount[a.preamble().id()] = a.params_size();
   }
   if (!ids.table) throw Usage{"the server's P4Info has no table twiceNatAddrOnly"};
   return ids;
}

// Match fields from args[at...]; returns the index after them.
size_t matchFrom(Ids const& ids, std::vector<std::string> const& args, size_t at, TableEntry& e) {
   if (args.size() < at + size_t(ids.fields))
      throw Usage{"give DST SRC" + std::string(ids.fields == 3 ? " VRF" : "")};
   e.add_match()->set_field_id(1);
   e.mutable_match(0)->mutable_exact()->set_value(bytesOf(address(args[at])));
   e.add_match()->set_field_id(2);
   e.mutable_match(1)->mutable_exact()->set_value(bytesOf(address(args[at + 1])));
   if (ids.fields == 3) {
      e.add_match()->set_field_id(3);
      e.mutable_match(2)->mutable_exact()->set_value(bytesOf(number(args[at + 2])));
   }
   return at + size_t(ids.fields);
}

void actionFrom(Ids const& ids, std::vector<std::string> const& args, size_t at, TableEntry& e) {
   if (at >= args.size()) throw Usage{"give an action: onMiss, hit or ecmp"};
   std::string const name = args[at] == "hit"    ? "twiceNatAddrOnlyHit"
                            : args[at] == "ecmp" ? "twiceNatAddrOnlyHitEcmp"
                                                 : args[at];
   auto id = ids.actions.find(name);
   if (id == ids.actions.end()) throw Usage{"no action '" + args[at] + "'"};
   Action* a = e.mutable_action()->mutable_action();
   a->set_action_id(id->second);
   int const n = ids.paramCount.at(id->second);
   if (args.size() != at + 1 + size_t(n))
      throw Usage{args[at] + " takes " + std::to_string(n) + " parameters"};
   for (int i = 0; i < n; ++i) {
      Action::Param* p = a->add_params();
      p->set_param_id(uint32_t(i + 1));
      p->set_value(bytesOf(number(args[at + 1 + size_t(i)])));
   }
}

void print(Ids const& ids, TableEntry const& e) {
   std::string line = e.is_default_action() ? "default" : "";
   for (auto const& m : e.match()) {
      uint64_t v = valueOf(m.exact().value());
      line += (line.empty() ? "" : " ") + (m.field_id() < 3 ? dotted(v) : std::to_string(v));
   }
   line += " " + ids.actionNames.at(e.action().action().action_id());
   for (auto const& p : e.action().action().params())
      line += " " + std::to_string(valueOf(p.value()));
   std::cout << line << "\n";
}

int run(std::vector<std::string> args) {
   std::string addr = "127.0.0.1:9559";
   uint64_t device = 0, election = 1;
   while (!args.empty() && args[0].rfind("--", 0) == 0) {
      if (args.size() < 2) throw Usage{args[0] + " needs a value"};
      if (args[0] == "--address")
         addr = args[1];
      else if (args[0] == "--device")
         device = number(args[1]);
      else if (args[0] == "--election")
         election = number(args[1]);
      else
         throw Usage{"unknown option " + args[0]};
      args.erase(args.begin(), args.begin() + 2);
   }
   if (args.empty()) throw Usage{"give a command"};
   auto stub = P4Runtime::NewStub(grpc::CreateChannel(addr, grpc::InsecureChannelCredentials()));
   Ids const ids = idsOf(*stub, device);
   std::string const cmd = args[0];

   if (cmd == "read") {
      ReadRequest req;
      req.set_device_id(device);
      TableEntry* e = req.add_entities()->mutable_table_entry();
      e->set_table_id(ids.table);
      if (args.size() > 1) matchFrom(ids, args, 1, *e);
      auto ctx = context();
      auto reader = stub->Read(ctx.get(), req);
      ReadResponse resp;
      while (reader->Read(&resp))
         for (auto const& entity : resp.entities())
            print(ids, entity.table_entry());
      check(reader->Finish(), "read");
      return 0;
   }

   // A write needs the primary's standing: a stream channel with our election id.
   auto streamContext = context();
   auto stream = stub->StreamChannel(streamContext.get());
   StreamMessageRequest hello;
   hello.mutable_arbitration()->set_device_id(device);
   hello.mutable_arbitration()->mutable_election_id()->set_low(election);
   StreamMessageResponse standing;
   if (!stream->Write(hello) || !stream->Read(&standing)) check(stream->Finish(), "stream channel");
   if (standing.arbitration().status().code() != 0) {
      std::cerr << "p4rt-client: not the primary: " << standing.arbitration().status().message()
                << "\n";
      return 1;
   }

   WriteRequest req;
   req.set_device_id(device);
   req.mutable_election_id()->set_low(election);
   Update* u = req.add_updates();
   TableEntry* e = u->mutable_entity()->mutable_table_entry();
   e->set_table_id(ids.table);
   if (cmd == "insert" || cmd == "modify") {
      u->set_type(cmd == "insert" ? Update::INSERT : Update::MODIFY);
      actionFrom(ids, args, matchFrom(ids, args, 1, *e), *e);
   } else if (cmd == "delete") {
      u->set_type(Update::DELETE);
      if (matchFrom(ids, args, 1, *e) != args.size()) throw Usage{"delete takes DST SRC [VRF]"};
   } else if (cmd == "default" || cmd == "default-reset") {
      u->set_type(Update::MODIFY);
      e->set_is_default_action(true);
      if (cmd == "default") actionFrom(ids, args, 1, *e);
   } else {
      throw Usage{"unknown command '" + cmd + "'"};
   }
   WriteResponse resp;
   check(stub->Write(context().get(), req, &resp), cmd);
   stream->WritesDone();
   streamContext->TryCancel();
   return 0;
}

}  // namespace

int main(int argc, char** argv) {
   try {
      return run(std::vector<std::string>(argv + 1, argv + argc));
   } catch (Usage const& u) {
      std::cerr << "p4rt-client: " << u.why << "\n";
      return 2;
   }
}
