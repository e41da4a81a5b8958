#include "chip/Devices.h"

#include <memory>
#include <string>

#include "chip/BfRtInfo.h"
#include "chip/ChipException.h"

namespace chip {

namespace {

struct Device {
   Chip* chip = nullptr;
   std::unique_ptr<ChipBfRtInfo> info;
};

Device* devices() {
   static Device d[kMaxDevices];
   return d;
}

}  // namespace

void attach(uint32_t deviceId, Chip& chip) {
   if (deviceId >= kMaxDevices) {
      throw ChipException("device id " + std::to_string(deviceId) + " is not in 0.." +
                          std::to_string(kMaxDevices - 1));
   }
   Device& d = devices()[deviceId];
   if (d.chip) throw ChipException("device " + std::to_string(deviceId) + " is already attached");
   d.chip = &chip;
   if (chip.profile().bfrt) {
      d.info = std::make_unique<ChipBfRtInfo>(chip, deviceId);
      bfrt::BfRtDevMgr::getInstance().bfRtInfoIs(int32_t(deviceId), d.info.get());
   }
}

void detach(uint32_t deviceId) {
   if (deviceId >= kMaxDevices) return;
   Device& d = devices()[deviceId];
   if (d.info) bfrt::BfRtDevMgr::getInstance().bfRtInfoIs(int32_t(deviceId), nullptr);
   d.info.reset();
   d.chip = nullptr;
}

Chip* attached(uint32_t deviceId) {
   return deviceId < kMaxDevices ? devices()[deviceId].chip : nullptr;
}

namespace detail {
void detachChip(Chip const* chip) {
   for (uint32_t id = 0; id < kMaxDevices; ++id) {
      if (devices()[id].chip == chip) detach(id);
   }
}
}  // namespace detail

}  // namespace chip
