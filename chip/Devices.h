#pragma once
// The SDK's devices: a chip attached as a device answers the PD functions for that device id
// and, when its profile offers BfRt, is registered in bfrt::BfRtDevMgr. Process-local.
#include <cstdint>

namespace chip {

class Chip;

constexpr uint32_t kMaxDevices = 256;

// Throws ChipException for a device id out of range or already attached.
void attach(uint32_t deviceId, Chip& chip);
// Destroys the device's BfRt objects: tables found through it before are gone. Nothing happens
// for a device that is not attached.
void detach(uint32_t deviceId);
// The chip serving `deviceId`, or null.
Chip* attached(uint32_t deviceId);

namespace detail {
void detachChip(Chip const* chip);
}  // namespace detail

}  // namespace chip
