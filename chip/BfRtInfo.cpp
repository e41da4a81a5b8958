#include "chip/BfRtInfo.h"

#include "chip/SdkCall.h"

namespace chip {

ChipBfRtInfo::ChipBfRtInfo(Chip& chip, uint32_t deviceId)
    : dev_(deviceId), match_(chip, deviceId, ChipBfRtTable::Kind::MATCH_DIRECT) {
   if (chip.profile().actionProfileTable) {
      actionProfile_ =
          std::make_unique<ChipBfRtTable>(chip, deviceId, ChipBfRtTable::Kind::ACTION_PROFILE);
   }
}

bfrt::bf_status_t ChipBfRtInfo::bfrtTableFromNameGet(std::string const& name,
                                                     bfrt::TolvexBfRtTable const** table) const {
   return sdkCall("bfrtTableFromNameGet", {dev_}, [&] {
      if (!table) return status::kInvalidArg;
      if (name == match_.name()) {
         *table = &match_;
      } else if (actionProfile_ && name == actionProfile_->name()) {
         *table = actionProfile_.get();
      } else {
         return status::kNotFound;
      }
      return status::kOk;
   });
}

std::shared_ptr<bfrt::BfRtSession> ChipBfRtInfo::sessionCreate() const {
   std::shared_ptr<bfrt::BfRtSession> session;
   uint32_t handle = nextSession_;
   sdkCall("sessionCreate", {dev_, handle}, [&] {
      session = std::make_shared<ChipSession>(handle);
      ++nextSession_;
      return status::kOk;
   });
   return session;
}

}  // namespace chip
