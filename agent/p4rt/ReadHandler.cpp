#include "agent/p4rt/ReadHandler.h"

#include <mutex>

#include "agent/p4rt/EntryTranslation.h"
#include "agent/p4rt/WriteHandler.h"

namespace TwiceNatP4rt {

namespace {

using TwiceNatAgent::EntryOrigin;
using TwiceNatAgent::EntryRow;

// Entities collect in one message that is refilled page after page: each entity keeps the
// parts it had, so a long read allocates nothing per entry once the first page is made.
class Pages {
 public:
   Pages(std::size_t page, ReadSink const& send) : page_(page), send_(send) {}
   p4::v1::TableEntry& add() {
      p4::v1::Entity* e = used_ < response_.entities_size() ? response_.mutable_entities(used_)
                                                            : response_.add_entities();
      ++used_;
      return *e->mutable_table_entry();
   }
   // False when the client is gone.
   bool flushIfFull() { return std::size_t(used_) < page_ || flush(); }
   bool flush() {
      if (used_ == 0) return true;
      if (used_ < response_.entities_size()) {
         response_.mutable_entities()->DeleteSubrange(used_, response_.entities_size() - used_);
      }
      used_ = 0;
      return send_(response_);
   }

 private:
   std::size_t page_;
   ReadSink const& send_;
   p4::v1::ReadResponse response_;
   int used_ = 0;  // entities of this page; those after them are kept for the next
};

// False when the client is gone.
bool answer(TwiceNatAgent::AgentCore& core, Pipeline const& p, ReadQuery const& q, std::size_t page,
            Pages& out) {
   if (q.kind == ReadQuery::Kind::defaultEntry) {
      std::optional<EntryRow> row;
      {
         std::lock_guard lock(core.lock());
         row = core.readDefault();
      }
      // A table whose default was never set misses to onMiss, the chip's initial default.
      toDefaultEntry(p, row ? row->entry.action : TwiceNatAgent::ActionValues{}, out.add());
      return out.flushIfFull();
   }
   if (q.kind == ReadQuery::Kind::one) {
      std::optional<EntryRow> row;
      {
         std::lock_guard lock(core.lock());
         row = core.read(q.key);
      }
      if (row && row->origin != EntryOrigin::missingOnChip) toTableEntry(p, row->entry, out.add());
      return out.flushIfFull();
   }
   std::vector<EntryRow> rows;
   rows.reserve(page);
   U64 cursor = 0;
   do {
      rows.clear();
      {
         std::lock_guard lock(core.lock());
         cursor = core.readPage(cursor, page, q.filter, rows);
      }
      for (EntryRow const& row : rows) {
         if (row.origin == EntryOrigin::missingOnChip) continue;  // the chip does not hold it
         toTableEntry(p, row.entry, out.add());
         if (!out.flushIfFull()) return false;
      }
   } while (cursor != 0);
   return true;
}

}  // namespace

grpc::Status serveRead(TwiceNatAgent::AgentCore& core, Pipeline const& p,
                       p4::v1::ReadRequest const& request, ReadLimits const& limits,
                       ReadSink const& send) {
   std::size_t const n = std::size_t(request.entities_size());
   if (n > limits.maxEntities) {
      return grpc::Status(grpc::StatusCode::RESOURCE_EXHAUSTED,
                          "a read of " + std::to_string(n) + " entities: at most " +
                              std::to_string(limits.maxEntities) + " go in one Read");
   }
   std::vector<RpcError> results(n);
   std::vector<ReadQuery> queries(n);
   for (std::size_t i = 0; i < n; ++i) {
      results[i] = toReadQuery(p, request.entities(int(i)), queries[i]);
   }
   Pages out(limits.page, send);
   for (std::size_t i = 0; i < n; ++i) {
      if (results[i].ok() && !answer(core, p, queries[i], limits.page, out)) {
         return grpc::Status(grpc::StatusCode::CANCELLED, "the client went away");
      }
   }
   if (!out.flush()) return grpc::Status(grpc::StatusCode::CANCELLED, "the client went away");
   return batchStatus(results, "entity", "entities");
}

}  // namespace TwiceNatP4rt
