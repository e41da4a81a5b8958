#pragma once
// The agent's per-entry status manager.
#include "BfTwiceNatAddrOnly/platform/BfnTable.h"

namespace BfnTableStatusManager {

class StatusManager : public Zin::PtrInterface {
 public:
   using Ptr = Pemra::Ptr<StatusManager>;
   using PtrConst = Pemra::Ptr<StatusManager const>;

   // Puts the entry's status back to its initial state.
   virtual void initStatus(BfnTable::MatchSpecBase::PtrConst const& match) = 0;
   // Brings the status records in line after a table's resync.
   virtual void resyncStatus() = 0;

   static Zin::TypeDescriptor const& type() {
      static Zin::TypeDescriptor* d =
          new Zin::TypeDescriptor("BfnTableStatusManager::StatusManager",
                                  Zin::TypeDescriptor::Kind::cls, &Zin::ptrInterfaceType());
      return *d;
   }
   Zin::TypeDescriptor const* fwkType() const override { return &type(); }

 protected:
   ~StatusManager() override = default;
};

}  // namespace BfnTableStatusManager
