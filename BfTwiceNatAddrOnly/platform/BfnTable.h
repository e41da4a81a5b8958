#pragma once
// The agent's common base of match specs and the SDK entry handle.
#include "Pemra/Ptr.h"
#include "Zin/TypeRegistry.h"

namespace BfnTable {

using BfnSdkEntryHandle = U32;

// Key managers and status managers take every table's match specs through this base.
class MatchSpecBase : public Zin::PtrInterface {
 public:
   using Ptr = Pemra::Ptr<MatchSpecBase>;
   using PtrConst = Pemra::Ptr<MatchSpecBase const>;

   static Zin::TypeDescriptor const& type() {
      static Zin::TypeDescriptor* d = new Zin::TypeDescriptor(
          "BfnTable::MatchSpecBase", Zin::TypeDescriptor::Kind::cls, &Zin::ptrInterfaceType());
      return *d;
   }
   Zin::TypeDescriptor const* fwkType() const override { return &type(); }

 protected:
   ~MatchSpecBase() override = default;
};

}  // namespace BfnTable
