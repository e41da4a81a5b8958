#pragma once
// The SDK entry handle of every entry the library has programmed, keyed by the identity of
// its match spec. The map holds one count on each key.
#include "BfTwiceNatAddrOnly/entry/TwiceNatAddrOnlyMatchSpec.h"
#include "Zin/Entity.h"
#include "Zin/IdentityMap.h"

namespace BfTwiceNatAddrOnly {

class TwiceNatAddrOnlyTableHandles : public Zin::Entity {
 public:
   using Ptr = Pemra::Ptr<TwiceNatAddrOnlyTableHandles>;
   using PtrConst = Pemra::Ptr<TwiceNatAddrOnlyTableHandles const>;
   using Map = Zin::IdentityMap<TwiceNatAddrOnlyMatchSpec, BfnTable::BfnSdkEntryHandle>;

   TwiceNatAddrOnlyTableHandles() = default;
   static Ptr TwiceNatAddrOnlyTableHandlesIs() { return new TwiceNatAddrOnlyTableHandles(); }

   // The handle stored for `match`; 0 when `match` is not a key.
   BfnTable::BfnSdkEntryHandle entry(TwiceNatAddrOnlyMatchSpec::PtrConst const& match) const {
      auto const* h = entries_.find(match.ptr());
      return h ? *h : 0;
   }
   void entryIs(TwiceNatAddrOnlyMatchSpec::PtrConst const& match,
                BfnTable::BfnSdkEntryHandle handle) {
      entries_.insertOrAssign(match, handle);
   }
   void entryDel(TwiceNatAddrOnlyMatchSpec::PtrConst const& match) { entries_.erase(match.ptr()); }
   // True for every key, whatever its handle (0 included).
   bool entryHas(TwiceNatAddrOnlyMatchSpec::PtrConst const& match) const {
      return entries_.contains(match.ptr());
   }
   U64 entries() const { return entries_.size(); }

   // Where `match` is held or would go, for the operation that looks it up and then adds or
   // drops it: the position's value is its handle (null when absent), and the entryIs or
   // entryDel that takes the position probes no more.
   using Position = Map::Position;
   Position entryPosition(TwiceNatAddrOnlyMatchSpec::PtrConst const& match) const {
      return entries_.locate(match.ptr());
   }
   void entryIs(Position const& at, TwiceNatAddrOnlyMatchSpec::PtrConst const& match,
                BfnTable::BfnSdkEntryHandle handle) {
      entries_.insertAt(at, match, handle);
   }
   void entryDel(Position const& at, TwiceNatAddrOnlyMatchSpec::PtrConst const& match) {
      entries_.eraseAt(at, match.ptr());
   }

   Map::Iterator entryIter() const { return entries_.begin(); }
   Map::Iterator entryIter(TwiceNatAddrOnlyMatchSpec::PtrConst const& from) const {
      return entries_.iteratorAt(from.ptr());
   }
   Map::Iterator entryEnd() const { return entries_.end(); }
   Map const& entryMap() const { return entries_; }

   static Zin::TypeDescriptor const& type();
   Zin::TypeDescriptor const* fwkType() const override { return &type(); }

   ZIN_ALLOCATED(TwiceNatAddrOnlyTableHandles)

 protected:
   ~TwiceNatAddrOnlyTableHandles() override = default;

 private:
   Map entries_;
};

inline TwiceNatAddrOnlyTableHandles::Ptr twiceNatAddrOnlyTableHandlesFactory() {
   return TwiceNatAddrOnlyTableHandles::TwiceNatAddrOnlyTableHandlesIs();
}

}  // namespace BfTwiceNatAddrOnly
