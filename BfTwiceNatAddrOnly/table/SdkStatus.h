#pragma once
// SDK status codes: their fixed texts, and the three rules that turn a failed call into a
// table exception.
#include <string_view>

#include "Zin/Types.h"

namespace BfTwiceNatAddrOnly {

// The text of `status`; "Unknown error" for codes outside the SDK's table.
char const* sdkStatusText(I32 status);

// A failed PD function: "<function>() failed: <text>"; 9, 2 and 17 have their own classes.
[[noreturn]] void throwPdFailure(char const* function, I32 status);
// A failed BfRt entry operation: "<label>() failed: <text>"; 9, 2, 17 and 4 have their own.
[[noreturn]] void throwBfrtEntryOpFailure(char const* label, I32 status);
// Any other failed BfRt call: "BFRT call failed: <text>"; 10 is BfTryAgain.
[[noreturn]] void throwBfrtCallFailure(I32 status);

}  // namespace BfTwiceNatAddrOnly
