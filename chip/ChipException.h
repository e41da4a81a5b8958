#pragma once
// Errors of the chip model itself (bad profile, bad chip file, bad attach), as opposed to SDK
// failures, which are status codes.
#include "Zin/Exception.h"

namespace chip {

class ChipException : public Zin::Exception {
 public:
   using Zin::Exception::Exception;
};

// A chip file that must not be used as it is: not a chip, damaged beyond what an open repairs,
// or owned by another user. The message is one line naming the file and what is wrong.
// `repairable`: an open with ChipRepair::header would take it (see Chip::open).
class ChipStateRefused : public ChipException {
 public:
   explicit ChipStateRefused(Zin::String message, bool repairable = false)
       : ChipException(std::move(message)), repairable_(repairable) {}
   bool repairable() const { return repairable_; }

 private:
   bool repairable_;
};

}  // namespace chip
