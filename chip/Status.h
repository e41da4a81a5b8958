#pragma once
// The SDK status codes the chip answers with.
#include <cstdint>

namespace chip {

using Status = int32_t;

namespace status {
constexpr Status kOk = 0;
constexpr Status kNoSysResources = 2;  // entry handles exhausted
constexpr Status kInvalidArg = 3;      // unknown device, target the scope refuses, bad field
constexpr Status kAlreadyExists = 4;   // the key is already in the pipe
constexpr Status kNotFound = 6;        // no entry with that handle
constexpr Status kNoSpace = 9;         // the table is full
constexpr Status kNotSupported = 17;   // operation the table kind does not have
constexpr Status kInUse = 24;          // scope change of a table that holds entries
}  // namespace status

}  // namespace chip
