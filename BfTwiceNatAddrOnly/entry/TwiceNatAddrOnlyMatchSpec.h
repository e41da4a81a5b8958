#pragma once
// The match key of one entry: outer IPv4 destination and source, and the optional VRF.
#include "BfTwiceNatAddrOnly/platform/BfnTable.h"

namespace BfTwiceNatAddrOnly {

class TwiceNatAddrOnlyTableHandles;

class TwiceNatAddrOnlyMatchSpec : public BfnTable::MatchSpecBase {
 public:
   using Ptr = Pemra::Ptr<TwiceNatAddrOnlyMatchSpec>;
   using PtrConst = Pemra::Ptr<TwiceNatAddrOnlyMatchSpec const>;

   // Bit of `isSet` that says the VRF was given.
   static constexpr U64 kVrfIdBit = 1;

   TwiceNatAddrOnlyMatchSpec() = default;
   // A copy has the same attributes and is a new object: no map holds it yet.
   TwiceNatAddrOnlyMatchSpec(TwiceNatAddrOnlyMatchSpec const& o)
       : MatchSpecBase(o),
         outerIpv4HdrDip_(o.outerIpv4HdrDip_),
         outerIpv4HdrSip_(o.outerIpv4HdrSip_),
         l3InfoVrfId_(o.l3InfoVrfId_),
         isSet_(o.isSet_) {}
   TwiceNatAddrOnlyMatchSpec& operator=(TwiceNatAddrOnlyMatchSpec const& o) {
      outerIpv4HdrDip_ = o.outerIpv4HdrDip_;
      outerIpv4HdrSip_ = o.outerIpv4HdrSip_;
      l3InfoVrfId_ = o.l3InfoVrfId_;
      isSet_ = o.isSet_;
      return *this;
   }
   static Ptr TwiceNatAddrOnlyMatchSpecIs() { return new TwiceNatAddrOnlyMatchSpec(); }

   U32 outerIpv4HdrDip() const { return outerIpv4HdrDip_; }
   void outerIpv4HdrDipIs(U32 v) { outerIpv4HdrDip_ = v; }
   U32 outerIpv4HdrSip() const { return outerIpv4HdrSip_; }
   void outerIpv4HdrSipIs(U32 v) { outerIpv4HdrSip_ = v; }
   U16 l3InfoVrfId() const { return l3InfoVrfId_; }
   // Stores the VRF and marks it as given: a VRF of 0 given explicitly stays distinct from one
   // never given. Nothing clears the mark; a spec without the VRF is a new object.
   void l3InfoVrfIdIs(U16 v) {
      l3InfoVrfId_ = v;
      isSet_ = static_cast<U8>(isSet_ | kVrfIdBit);
   }
   U64 isSet() const { return isSet_; }
   bool l3InfoVrfIdIsSet() const { return (isSet_ & kVrfIdBit) != 0; }

   // Read-only: both stop the process. The mark changes only through l3InfoVrfIdIs.
   [[noreturn]] void isSetIs(U64);
   [[noreturn]] void l3InfoVrfIdIsSetIs(bool);

   static Zin::TypeDescriptor const& type();
   Zin::TypeDescriptor const* fwkType() const override { return &type(); }

   ZIN_ALLOCATED(TwiceNatAddrOnlyMatchSpec)

 protected:
   ~TwiceNatAddrOnlyMatchSpec() override = default;

 private:
   friend class TwiceNatAddrOnlyTableHandles;

   U32 outerIpv4HdrDip_ = 0;
   U32 outerIpv4HdrSip_ = 0;
   U16 l3InfoVrfId_ = 0;
   // Only bit 0 is ever set: a byte keeps the match spec, with its hook, in 32 bytes.
   U8 isSet_ = 0;
   // The hook of the handle map that holds this spec (TwiceNatAddrOnlyTableHandles): its tag
   // (0: none), the entry's SDK handle and the match spec's place in the map's list of keys. No
   // attribute: it is the map's record, kept where the map finds it without a look-up.
   mutable U8 hookTag_ = 0;
   mutable U32 hookHandle_ = 0;
   mutable U32 hookPlace_ = 0;
};

inline TwiceNatAddrOnlyMatchSpec::Ptr twiceNatAddrOnlyMatchSpecFactory() {
   return TwiceNatAddrOnlyMatchSpec::TwiceNatAddrOnlyMatchSpecIs();
}

}  // namespace BfTwiceNatAddrOnly
