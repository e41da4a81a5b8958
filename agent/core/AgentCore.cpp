#include "agent/core/AgentCore.h"

#include <algorithm>
#include <chrono>
#include <stdexcept>

#include "BfTwiceNatAddrOnly/table/TableExceptions.h"
#include "agent/core/CoreState.h"

namespace TwiceNatAgent {

char const* codeName(Code code) {
   switch (code) {
      case Code::ok:
         return "OK";
      case Code::alreadyExists:
         return "ALREADY_EXISTS";
      case Code::notFound:
         return "NOT_FOUND";
      case Code::invalidArgument:
         return "INVALID_ARGUMENT";
      case Code::resourceExhausted:
         return "RESOURCE_EXHAUSTED";
      case Code::unavailable:
         return "UNAVAILABLE";
      case Code::unimplemented:
         return "UNIMPLEMENTED";
      case Code::aborted:
         return "ABORTED";
      case Code::internal:
         return "INTERNAL";
   }
   return "UNKNOWN";
}

namespace {

template <class E>
Status sdkRefusal(Code code, E const& e, char const* cls) {
   return Status{code,
                 std::string(e.what()) + " (" + cls + ", status " + std::to_string(e.status) + ")",
                 e.status};
}

}  // namespace

// Three of the table exceptions derive privately from BfTableException: each is caught by
// its own type.
Status statusOf(std::exception_ptr failure) {
   try {
      std::rethrow_exception(failure);
   } catch (BfTable::BfNotSupported const& x) {
      return sdkRefusal(Code::unimplemented, x, "BfNotSupported");
   } catch (BfTable::BfDuplicateEntry const& x) {
      return sdkRefusal(Code::alreadyExists, x, "BfDuplicateEntry");
   } catch (BfTable::BfTryAgain const& x) {
      return sdkRefusal(Code::unavailable, x, "BfTryAgain");
   } catch (BfTable::BfTableFull const& x) {
      return sdkRefusal(Code::resourceExhausted, x, "BfTableFull");
   } catch (BfTable::BfNoSysResources const& x) {
      return sdkRefusal(Code::resourceExhausted, x, "BfNoSysResources");
   } catch (BfTable::BfTableException const& x) {
      return sdkRefusal(Code::internal, x, "BfTableException");
   } catch (KeyTableFull const& x) {
      return refusal(Code::resourceExhausted, x.what());
   } catch (std::exception const& x) {
      return refusal(Code::internal, x.what());
   } catch (...) {
      return refusal(Code::internal, "unknown failure");
   }
}

bool BatchResult::ok() const {
   if (failed != 0 || rolledBack || !rollbackFailure.empty()) return false;
   for (Status const& s : statuses) {
      if (!s.ok()) return false;
   }
   return true;
}

std::unique_ptr<AgentCore> AgentCore::start(Config const& config) {
   if (!config.inventory) throw std::invalid_argument("agent core: no SDK inventory given");
   if (config.sdkLibraryPath.empty()) {
      throw std::invalid_argument("agent core: no SDK library path given");
   }
   auto s = std::make_unique<State>(config);
   auto const began = std::chrono::steady_clock::now();
   s->open();
   s->reconcile();
   s->report.seconds =
       std::chrono::duration<double>(std::chrono::steady_clock::now() - began).count();
   return std::unique_ptr<AgentCore>(new AgentCore(std::move(s)));
}

AgentCore::AgentCore(std::unique_ptr<State> state) : s_(std::move(state)) {}

AgentCore::~AgentCore() = default;

AgentCore::StartReport const& AgentCore::startReport() const {
   return s_->report;
}

bool AgentCore::readOnly() const {
   return s_->config.readOnly;
}

bool AgentCore::vrfKeyField() const {
   return s_->vrf;
}

// The runtime's type of the table says which back end the creation chose.
char const* AgentCore::backEnd() const {
   return s_->bfrt ? "BfRt" : "PD";
}

U64 AgentCore::count() const {
   return s_->index.size();
}

U64 AgentCore::capacity() const {
   return s_->inventory.entryCapacity();
}

AgentCore::KeyTableFigures AgentCore::keyTable() const {
   KeyManager const& k = *s_->keys;
   return {k.table().path(), k.size(), k.capacity(), k.highestKey()};
}

Status AgentCore::fit(MatchKey& key, bool strictVrf) const {
   return s_->fit(key, strictVrf);
}

Programmed AgentCore::insert(EntrySpec const& entry) {
   return s_->program(UpdateKind::insert, entry);
}

Programmed AgentCore::modify(EntrySpec const& entry) {
   return s_->program(UpdateKind::modify, entry);
}

Programmed AgentCore::program(EntrySpec const& entry) {
   return s_->program(UpdateKind::program, entry);
}

Programmed AgentCore::remove(MatchKey const& key) {
   return s_->remove(key);
}

Programmed AgentCore::defaultIs(ActionValues const& action) {
   return s_->defaultIs(action);
}

Programmed AgentCore::defaultReset() {
   return s_->defaultReset();
}

Programmed AgentCore::apply(Update const& update) {
   return s_->apply(update);
}

void AgentCore::expect(U64 updates) {
   if (s_->config.readOnly) return;
   U64 const room = std::min<U64>(updates, s_->keys->capacity());
   s_->index.reserve(s_->index.size() + room);
   BfTwiceNatAddrOnly::TwiceNatAddrOnlyTableHandles& handles = *s_->table->helper()->sdkHandles();
   handles.reserve(handles.entries() + room);
}

BatchResult AgentCore::apply(std::span<Update const> batch, BatchMode mode) {
   std::unique_ptr<Transaction> t = begin(mode);
   BatchResult r = t->apply(batch);
   t->commit();
   return r;
}

}  // namespace TwiceNatAgent
