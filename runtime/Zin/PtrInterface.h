#pragma once
// Base of every reference-counted object of the runtime.
#include <atomic>

#include "Zin/Alloc.h"
#include "Zin/PtrMode.h"
#include "Zin/Types.h"

namespace Pemra {
template <class T>
class Ptr;
}

namespace Zin {

class TypeDescriptor;
class NotifieeList;

class PtrInterface {
 public:
   using Ptr = Pemra::Ptr<PtrInterface>;
   using PtrConst = Pemra::Ptr<PtrInterface const>;

   PtrInterface() { detail::gPtrModeFrozen.store(true, std::memory_order_relaxed); }
   // A copy is a new object: it starts without references.
   PtrInterface(PtrInterface const&) : PtrInterface() {}
   PtrInterface& operator=(PtrInterface const&) { return *this; }

   // Objects that others watch; none by default.
   virtual NotifieeList* notifieeList() const { return nullptr; }
   // Called when the last counted pointer goes; frees the object.
   virtual void zeroReferencesIs() { delete this; }
   // The class's descriptor in the type registry.
   virtual TypeDescriptor const* fwkType() const;

   U32 references() const { return refs_.load(std::memory_order_relaxed); }

   void newRef() const {
      if (detail::gThreadSafePtrs) {
         refs_.fetch_add(1, std::memory_order_relaxed);
      } else {
         refs_.store(refs_.load(std::memory_order_relaxed) + 1, std::memory_order_relaxed);
      }
   }
   void deleteRef() const {
      U32 left;
      if (detail::gThreadSafePtrs) {
         left = refs_.fetch_sub(1, std::memory_order_acq_rel) - 1;
      } else {
         left = refs_.load(std::memory_order_relaxed) - 1;
         refs_.store(left, std::memory_order_relaxed);
      }
      if (left == 0) {
         const_cast<PtrInterface*>(this)->zeroReferencesIs();
      }
   }

   ZIN_ALLOCATED(PtrInterface)

 protected:
   virtual ~PtrInterface() = default;

 private:
   mutable std::atomic<U32> refs_{0};
};

}  // namespace Zin
