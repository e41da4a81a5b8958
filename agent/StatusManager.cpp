#include "agent/StatusManager.h"

#include <algorithm>
#include <string>

#include "Zin/Exception.h"

namespace TwiceNatAgent {

StatusManager::StatusManager(KeyManager::PtrConst keys) : keys_(std::move(keys)) {
   if (!keys_) throw Zin::InternalException("status manager: no key manager given");
}

StatusManager::Record const* StatusManager::recordOf(BfnTable::MatchSpecBase const* match) const {
   return recordAt(match ? keys_->keyOf(match) : 0);
}

StatusManager::Record const* StatusManager::recordAt(EntryKey key) const {
   if (key == 0 || key > records_.size() || records_[key - 1].inits == 0) return nullptr;
   return &records_[key - 1];
}

void StatusManager::initStatus(MatchPtr const& match) {
   if (!match) throw Zin::InternalException("status manager: initStatus of a null match spec");
   KeyManager::EntryKey const key = keys_->keyOf(match.ptr());
   if (key == 0) return;  // an entry the agent keeps no key for has no status either
   if (key > records_.size()) records_.resize(std::max<U64>(key, records_.size() * 2));
   Record& r = records_[key - 1];
   if (r.inits == 0) ++size_;
   r = Record{r.inits + 1, resyncs_};
}

std::optional<EntryStatus> StatusManager::status(BfnTable::MatchSpecBase const* match) const {
   return statusOf(recordOf(match));
}

std::optional<EntryStatus> StatusManager::keyStatus(EntryKey key) const {
   return statusOf(recordAt(key));
}

std::optional<EntryStatus> StatusManager::statusOf(Record const* r) const {
   if (!r) return std::nullopt;
   return EntryStatus{r->resyncsAtInit < resyncs_ ? EntryState::resynced : EntryState::initial,
                      r->inits};
}

bool StatusManager::statusDel(BfnTable::MatchSpecBase const* match) {
   return drop(recordOf(match));
}

bool StatusManager::keyStatusDel(EntryKey key) {
   return drop(recordAt(key));
}

bool StatusManager::drop(Record const* r) {
   if (!r) return false;
   records_[r - records_.data()] = Record{};
   --size_;
   return true;
}

}  // namespace TwiceNatAgent
