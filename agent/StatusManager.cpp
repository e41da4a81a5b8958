#include "agent/StatusManager.h"

#include "Zin/Exception.h"

namespace TwiceNatAgent {

void StatusManager::initStatus(MatchPtr const& match) {
   if (!match) throw Zin::InternalException("status manager: initStatus of a null match spec");
   Record const* was = records_.find(match.ptr());
   records_.insertOrAssign(match, Record{was ? was->inits + 1 : 1, resyncs_});
}

std::optional<EntryStatus> StatusManager::status(BfnTable::MatchSpecBase const* match) const {
   Record const* r = records_.find(match);
   if (!r) return std::nullopt;
   return EntryStatus{r->resyncsAtInit < resyncs_ ? EntryState::resynced : EntryState::initial,
                      r->inits};
}

}  // namespace TwiceNatAgent
