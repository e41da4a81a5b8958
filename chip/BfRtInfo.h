#pragma once
// The BfRt program information of a device served by the simulated chip.
#include <memory>

#include "BfTwiceNatAddrOnly/platform/BfRt.h"
#include "chip/BfRtTable.h"

namespace chip {

class ChipBfRtInfo : public bfrt::BfRtInfo {
 public:
   ChipBfRtInfo(Chip& chip, uint32_t deviceId);
   bfrt::bf_status_t bfrtTableFromNameGet(std::string const& name,
                                          bfrt::TolvexBfRtTable const** table) const override;
   // Null when the call is made to fail.
   std::shared_ptr<bfrt::BfRtSession> sessionCreate() const override;

 private:
   uint32_t dev_;
   ChipBfRtTable match_;
   std::unique_ptr<ChipBfRtTable> actionProfile_;  // null unless the profile offers it
   mutable uint32_t nextSession_ = 0x51;
};

}  // namespace chip
