// The three batches of a programming round through the agent core: every entry inserted, then
// modified (the other hit action), then removed, each batch walking the entries in `order`.
// Entry i has distinct addresses and, when `vrf`, VRF i & 0xFF.
#pragma once

#include <vector>

#include "agent/core/AgentCore.h"

namespace bench {

inline std::vector<std::vector<TwiceNatAgent::Update>> roundBatches(std::vector<U32> const& order,
                                                                    bool vrf) {
   using TwiceNatAgent::ActionKind;
   using TwiceNatAgent::UpdateKind;
   std::vector<std::vector<TwiceNatAgent::Update>> batches;
   for (UpdateKind kind : {UpdateKind::insert, UpdateKind::modify, UpdateKind::remove}) {
      std::vector<TwiceNatAgent::Update>& batch = batches.emplace_back(order.size());
      for (std::size_t k = 0; k < order.size(); ++k) {
         U32 const i = order[k];
         TwiceNatAgent::EntrySpec& e = batch[k].entry;
         batch[k].kind = kind;
         e.match = {0x0A000000u + i, 0xC0A80001u + (i & 0xF), U16(vrf ? i & 0xFF : 0), vrf};
         bool const ecmp = (i & 1) != (kind == UpdateKind::modify);
         e.action = {ecmp ? ActionKind::ecmp : ActionKind::hit,
                     U16(i),
                     U16(i >> 16),
                     U8(ecmp ? 17 : 6),
                     0,
                     U16(i & 0x3FF)};
      }
   }
   return batches;
}

}  // namespace bench
