// Fuzzes the P4Runtime Write handler: the input is a serialized p4.v1.WriteRequest, applied to a
// core over a small private chip that starts empty for every input. Whatever the request, the
// answer must be OK with no details, or carry one p4.v1.Error per update; a ROLLBACK_ON_ERROR
// batch that failed must leave the table as it was; and every entry the table then holds must
// read back as a table entry that translates to the same entry again. Any other outcome aborts.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "P4rtFuzzCore.h"
#include "agent/p4rt/EntryTranslation.h"
#include "agent/p4rt/WriteHandler.h"
#include "google/rpc/status.pb.h"

namespace {

using namespace TwiceNatP4rt;
using TwiceNatAgent::EntryRow;

[[noreturn]] void fail(char const* what) {
   std::fprintf(stderr, "p4rt_write_fuzzer: %s\n", what);
   std::abort();
}

// Every entry and the default, as the table holds them.
std::string snapshot(TwiceNatAgent::AgentCore& core, Pipeline const& p) {
   std::vector<EntryRow> rows;
   for (U64 c = core.readPage(0, 256, {}, rows); c != 0;)
      c = core.readPage(c, 256, {}, rows);
   std::string out;
   p4::v1::TableEntry e;
   for (EntryRow const& row : rows) {
      e.Clear();
      toTableEntry(p, row.entry, e);
      out += e.SerializeAsString();
      // What reads back translates to the same entry.
      p4::v1::Update u;
      u.set_type(p4::v1::Update::INSERT);
      *u.mutable_entity()->mutable_table_entry() = e;
      WriteOp op;
      if (!toWriteOp(p, u, op).ok() || !(op.update.entry.match == row.entry.match) ||
          !(op.update.entry.action == row.entry.action)) {
         fail("an entry read back does not translate to itself");
      }
   }
   if (std::optional<EntryRow> d = core.readDefault()) {
      e.Clear();
      toDefaultEntry(p, d->entry.action, e);
      out += "default" + e.SerializeAsString();
   }
   return out;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(uint8_t const* data, std::size_t size) {
   static TwiceNatP4rtFuzz::FuzzCore rig;
   p4::v1::WriteRequest request;
   if (!request.ParseFromArray(data, int(size))) return 0;
   TwiceNatAgent::AgentCore& core = rig.emptied();
   Pipeline const& p = rig.pipeline();
   std::string const before = snapshot(core, p);
   grpc::Status const s = applyWrite(core, p, request, WriteLimits{64});
   if (s.ok()) {
      if (!s.error_details().empty()) fail("OK with details");
   } else if (s.error_code() == grpc::StatusCode::UNKNOWN) {
      google::rpc::Status details;
      if (!details.ParseFromString(s.error_details())) fail("details that do not parse");
      if (details.details_size() != request.updates_size()) fail("not one error per update");
      if (request.atomicity() == p4::v1::WriteRequest::ROLLBACK_ON_ERROR &&
          snapshot(core, p) != before) {
         fail("a failed ROLLBACK_ON_ERROR batch changed the table");
      }
   } else if (!s.error_details().empty() || snapshot(core, p) != before) {
      fail("a request refused whole has details or changed the table");
   }
   snapshot(core, p);
   return 0;
}
