#pragma once
// The exceptions a table operation throws when an SDK call fails. Three of the subclasses
// derive privately, so a handler for BfTableException does not receive them.
#include "Zin/Exception.h"
#include "Zin/Types.h"

namespace BfTable {

class BfTableException : public Zin::InternalException {
 public:
   BfTableException(Pemra::String message, I32 status)
       : Zin::InternalException(std::move(message)), status(status) {}
   // SDK status code of the failed call.
   I32 status;
};

class BfTableFull : public BfTableException {
 public:
   explicit BfTableFull(Pemra::String message) : BfTableException(std::move(message), 9) {}
};

class BfNoSysResources : public BfTableException {
 public:
   explicit BfNoSysResources(Pemra::String message) : BfTableException(std::move(message), 2) {}
};

class BfNotSupported : private BfTableException {
 public:
   explicit BfNotSupported(Pemra::String message) : BfTableException(std::move(message), 17) {}
   using BfTableException::name;
   using BfTableException::status;
   using BfTableException::what;
};

class BfDuplicateEntry : private BfTableException {
 public:
   explicit BfDuplicateEntry(Pemra::String message) : BfTableException(std::move(message), 4) {}
   using BfTableException::name;
   using BfTableException::status;
   using BfTableException::what;
};

class BfTryAgain : private BfTableException {
 public:
   explicit BfTryAgain(Pemra::String message) : BfTableException(std::move(message), 10) {}
   using BfTableException::name;
   using BfTableException::status;
   using BfTableException::what;
};

}  // namespace BfTable
