#pragma once
// The agent's key manager: hands out entry keys and keeps them in the shared-memory key table.
#include "BfTwiceNatAddrOnly/platform/BfnTable.h"
#include "BfTwiceNatAddrOnly/platform/Drosk.h"

namespace MbbDroskKey {

class DroskKeyManager : public Zin::PtrInterface {
 public:
   using Ptr = Pemra::Ptr<DroskKeyManager>;
   using PtrConst = Pemra::Ptr<DroskKeyManager const>;
   using EntryKey = Drosk::MbbPostcodef::EntryKey;

   // The shared-memory table config; null only in a broken agent.
   virtual Drosk::MbbDroskTableConfig* mbbDroskTableConfig() const = 0;
   // A key not in use, now allocated to `match`.
   virtual EntryKey alloc(BfnTable::MatchSpecBase::PtrConst const& match, bool flag) = 0;
   // Releases a key that alloc returned.
   virtual void free(EntryKey key) = 0;
   // Associates an existing record's key with the match spec read back for it.
   virtual void populate(EntryKey const& key, BfnTable::MatchSpecBase::PtrConst const& match) = 0;
   // The largest key in use.
   virtual EntryKey highestKey() const = 0;
   virtual void highestKeyIs(EntryKey key) = 0;

   static Zin::TypeDescriptor const& type() {
      static Zin::TypeDescriptor* d = new Zin::TypeDescriptor(
          "MbbDroskKey::DroskKeyManager", Zin::TypeDescriptor::Kind::cls, &Zin::ptrInterfaceType());
      return *d;
   }
   Zin::TypeDescriptor const* fwkType() const override { return &type(); }

 protected:
   ~DroskKeyManager() override = default;
};

}  // namespace MbbDroskKey
