#include "agent/service/Handler.h"

#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <mutex>

#include "agent/daemon/Log.h"

namespace TwiceNatService {

namespace {

Status refused(Code code, std::string message) {
   return Status{code, std::move(message), 0};
}

// Entries a clear removes under the lock at a time.
constexpr std::size_t kClearPage = 1000;

bool keeps(ShowFilter const& f, EntryRow const& r) {
   return !f.action || (r.origin != EntryOrigin::missingOnChip && r.entry.action.kind == *f.action);
}

}  // namespace

BatchReply batchReplyOf(BatchResult const& result) {
   BatchReply b;
   for (std::size_t i = 0; i < result.statuses.size(); ++i) {
      Status const& s = result.statuses[i];
      if (s.ok()) continue;
      if (result.rolledBack && s.code == Code::aborted) {
         ++b.aborted;
      } else {
         b.failures.push_back({i, s});
      }
   }
   b.added = result.added;
   b.changed = result.changed;
   b.removed = result.removed;
   b.rolledBack = result.rolledBack;
   b.rollbackFailure = result.rollbackFailure;
   return b;
}

Handler::Handler(AgentCore& core, Facts facts) : core_(core), facts_(std::move(facts)) {}

Handler::Session::~Session() {
   abandon();
}

bool Handler::Session::abandon() {
   if (!transaction_) return false;
   std::scoped_lock lock(handler_.core_.lock());
   transaction_.reset();  // undoes what it did when it rolls back on error
   return true;
}

Reply Handler::handle(Request const& request, Session& session) {
   namespace Log = TwiceNatAgent::Log;
   if (!Log::enabled(Log::Level::debug)) return handleCounted(request, session);
   // The clock is read only for a log that keeps the line.
   auto const start = std::chrono::steady_clock::now();
   Reply r = handleCounted(request, session);
   std::chrono::duration<double, std::milli> const took = std::chrono::steady_clock::now() - start;
   char ms[32];
   std::snprintf(ms, sizeof ms, "%.3f", took.count());
   Log::debug("request " + std::string(opName(request.op)) + ": " + codeName(r.status.code) +
              " in " + ms + " ms");
   return r;
}

Reply Handler::handleCounted(Request const& request, Session& session) {
   ++served_;
   try {
      if (request.op == Op::stop) {
         stopAsked_ = true;
         Reply r;
         r.figures.pid = ::getpid();
         return r;
      }
      std::scoped_lock lock(core_.lock());
      return handleLocked(request, session);
   } catch (std::exception const& e) {
      Reply r;
      r.status = refused(Code::internal, e.what());
      return r;
   }
}

Reply Handler::handleLocked(Request const& q, Session& session) {
   Reply r;
   switch (q.op) {
      case Op::status:
         r.figures.pid = ::getpid();
         r.figures.stateDir = facts_.stateDir;
         r.figures.entries = core_.count();
         r.figures.uptimeSeconds =
             std::chrono::duration<double>(std::chrono::steady_clock::now() - started_).count();
         r.figures.requestsServed = served_;
         r.figures.clients = clients_;
         r.figures.version = facts_.version;
         return r;
      case Op::chip:
         if (!facts_.chipJson) {
            r.status = refused(Code::unimplemented, "this agent has no chip figures to give");
         } else {
            r.chip = facts_.chipJson();
         }
         return r;
      case Op::get:
         r.rows.reserve(q.keys.size());
         for (MatchKey const& k : q.keys)
            r.rows.push_back(core_.read(k));
         if (q.withDefault) r.defaultRow = core_.readDefault();
         return r;
      case Op::insert:
      case Op::modify:
      case Op::program:
      case Op::remove:
      case Op::defaultSet:
      case Op::defaultReset:
         if (session.transaction_) {
            r.status = refused(Code::invalidArgument,
                               "a batch is open on this connection: send its updates as parts");
            return r;
         }
         {
            Update u{*updateKindOf(q.op), q.entry};
            if (q.op != Op::defaultSet && q.op != Op::defaultReset) {
               // A key named on its own is taken strictly: a VRF on a table without the field is
               // refused, also VRF 0.
               r.status = core_.fit(u.entry.match, true);
               if (!r.status.ok()) return r;
               r.taken = u.entry.match;
            }
            r.programmed = core_.apply(u);
            r.status = r.programmed.status;
            return r;
         }
      case Op::apply:
         if (session.transaction_) {
            r.status = refused(Code::invalidArgument,
                               "a batch is open on this connection: commit or roll it back first");
            return r;
         }
         if (q.expect && q.mode != BatchMode::dryRun) core_.expect(q.expect);
         r.batch = batchReplyOf(core_.apply(q.updates, q.mode));
         return r;
      case Op::begin:
      case Op::part:
      case Op::commit:
      case Op::rollback:
         return batchStep(q, session);
      case Op::show:
      case Op::clear:
         r.status = refused(Code::invalidArgument, "show and clear go a page at a time");
         return r;
      case Op::stop:
         break;
   }
   return r;
}

Reply Handler::batchStep(Request const& q, Session& session) {
   Reply r;
   auto& tx = session.transaction_;
   if (q.op == Op::begin) {
      if (tx) {
         r.status = refused(Code::invalidArgument, "a batch is already open on this connection");
      } else {
         tx = core_.begin(q.mode);
         session.mode_ = q.mode;
         if (q.expect && q.mode != BatchMode::dryRun) core_.expect(q.expect);
      }
      return r;
   }
   if (!tx) {
      r.status = refused(Code::invalidArgument,
                         std::string(opName(q.op)) + " without an open batch: send begin first");
      return r;
   }
   if (q.op == Op::part) {
      r.batch = batchReplyOf(tx->apply(q.updates));
      return r;
   }
   if (q.op == Op::commit) {
      tx->commit();
      r.batch = batchReplyOf(tx->totals());
   } else {
      r.batch = batchReplyOf(tx->rollback());
   }
   tx.reset();
   return r;
}

std::unique_ptr<Handler::ShowStream> Handler::show(Request const& request) {
   ++served_;
   return std::make_unique<ShowStream>(*this, request);
}

std::unique_ptr<Handler::ClearSteps> Handler::clear() {
   ++served_;
   return std::make_unique<ClearSteps>(*this);
}

bool Handler::ClearSteps::step(Reply& reply) {
   AgentCore& core = handler_.core_;
   try {
      std::scoped_lock lock(core.lock());
      rows_.clear();
      cursor_ = core.readPage(cursor_, kClearPage, {}, rows_);
      for (EntryRow const& row : rows_) {
         Programmed const p = core.remove(row.entry.match);
         if (!p.status.ok() && p.status.code != Code::notFound) {
            reply.status = p.status;
            reply.batch.removed = removed_;
            return true;
         }
         removed_ += p.change == Change::removed;
      }
      if (cursor_ != 0) return false;
      reply.programmed = core.defaultReset();
      reply.status = reply.programmed.status;
   } catch (std::exception const& e) {
      reply.status = refused(Code::internal, e.what());
   }
   reply.batch.removed = removed_;
   return true;
}

Handler::ShowStream::ShowStream(Handler& handler, Request const& q)
    : handler_(handler), filter_(q.filter), pageSize_(q.pageSize ? q.pageSize : 1000) {}

bool Handler::ShowStream::next(Page& page) {
   if (done_) return false;
   page.rows.clear();
   page.status = {};
   page.defaultRow.reset();
   AgentCore& core = handler_.core_;
   try {
      std::scoped_lock lock(core.lock());
      if (filter_.key.vrf && !core.vrfKeyField()) {
         page.status = refused(Code::invalidArgument,
                               "this chip's table has no VRF key field: a VRF cannot filter it");
         page.last = done_ = true;
         return true;
      }
      rows_.clear();
      cursor_ = core.readPage(cursor_, pageSize_, filter_.key, rows_);
      for (EntryRow& row : rows_) {
         if (keeps(filter_, row)) page.rows.push_back(std::move(row));
      }
      matching_ += page.rows.size();
      page.last = done_ = cursor_ == 0;
      if (page.last) {
         page.matching = matching_;
         page.total = core.count();
         if (!filter_.any()) page.defaultRow = core.readDefault();
      }
   } catch (std::exception const& e) {
      page.status = refused(Code::internal, e.what());
      page.last = done_ = true;
   }
   return true;
}

}  // namespace TwiceNatService
