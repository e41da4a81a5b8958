#pragma once
// P4Runtime's binary strings for unsigned fields of at most 32 bits: big-endian, any length.
// A receiver takes leading zero bytes (a string padded to the field's width, or longer); it
// refuses with OUT_OF_RANGE an empty string and a value that needs more bits than the field
// has. A sender uses the shortest string that holds the value ("\0" for zero), so that what a
// client wrote reads back byte for byte when the client wrote it that way.
#include <string>
#include <string_view>

#include "Zin/Types.h"
#include "agent/p4rt/RpcError.h"

namespace TwiceNatP4rt {

// `kind` and `name` name the value in a refusal ("match field ", "outerIpv4HdrDip"); they are
// joined only when there is one.
RpcError decodeBits(std::string_view bytes, U32 width, U32& value, std::string_view kind,
                    std::string_view name);
void encodeBits(U32 value, std::string& out);

}  // namespace TwiceNatP4rt
