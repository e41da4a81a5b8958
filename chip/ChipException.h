#pragma once
// Errors of the chip model itself (bad profile, bad chip file, bad attach), as opposed to SDK
// failures, which are status codes.
#include "Zin/Exception.h"

namespace chip {

class ChipException : public Zin::Exception {
 public:
   using Zin::Exception::Exception;
};

}  // namespace chip
