#pragma once
// Errors of the chip model itself (bad profile, bad chip file, bad attach), as opposed to SDK
// failures, which are status codes.
#include "Zin/Exception.h"

namespace chip {

class ChipException : public Zin::Exception {
 public:
   using Zin::Exception::Exception;
};

// A chip file that must not be used as it is: not a chip, damaged beyond repair, or owned by
// another user. The message is one line naming the file and what is wrong.
class ChipStateRefused : public ChipException {
 public:
   using ChipException::ChipException;
};

}  // namespace chip
