#include "BfTwiceNatAddrOnly/table/SdkStatus.h"

#include "BfTwiceNatAddrOnly/table/TableExceptions.h"

namespace BfTwiceNatAddrOnly {
namespace {

constexpr char const* kStatusTexts[] = {
    "Success",
    "Not ready",
    "No system resources",
    "Invalid arguments",
    "Already exists",
    "HW access fails",
    "Object not found",
    "Max sessions exceeded",
    "Session not found",
    "Not enough space",
    "Resource temporarily not available, try again later",
    "Initialization error",
    "Not supported in transaction",
    "Resource held by another session",
    "IO error",
    "Unexpected error",
    "Action data entry is being referenced by match entries",
    "Operation not supported",
    "Updating hardware failed",
    "No learning clients registered",
    "Idle time update state already in progress",
    "Device locked",
    "Internal error",
    "Table not found",
    "In use",
    "Object not implemented",
    "Hardware entry not found",
};

Pemra::String failedCall(char const* name, I32 status) {
   return Pemra::String(name) + "() failed: " + sdkStatusText(status);
}

// The PD rule and the BfRt entry-operation rule differ only in whether status 4 has a class.
[[noreturn]] void throwFailedCall(char const* name, I32 status, bool duplicateEntryClass) {
   Pemra::String message = failedCall(name, status);
   switch (status) {
      case 9:
         throw BfTable::BfTableFull(std::move(message));
      case 2:
         throw BfTable::BfNoSysResources(std::move(message));
      case 17:
         throw BfTable::BfNotSupported(std::move(message));
      case 4:
         if (duplicateEntryClass) throw BfTable::BfDuplicateEntry(std::move(message));
         [[fallthrough]];
      default:
         throw BfTable::BfTableException(std::move(message), status);
   }
}

}  // namespace

char const* sdkStatusText(I32 status) {
   constexpr I32 count = sizeof(kStatusTexts) / sizeof(kStatusTexts[0]);
   return status >= 0 && status < count ? kStatusTexts[status] : "Unknown error";
}

void throwPdFailure(char const* function, I32 status) {
   throwFailedCall(function, status, false);
}

void throwBfrtEntryOpFailure(char const* label, I32 status) {
   throwFailedCall(label, status, true);
}

void throwBfrtCallFailure(I32 status) {
   Pemra::String message = Pemra::String("BFRT call failed: ") + sdkStatusText(status);
   if (status == 10) throw BfTable::BfTryAgain(std::move(message));
   throw BfTable::BfTableException(std::move(message), status);
}

}  // namespace BfTwiceNatAddrOnly
