#pragma once
// A named counted object.
#include "Pemra/Ptr.h"
#include "Pemra/String.h"
#include "Zin/PtrInterface.h"

namespace Zin {

class Entity : public PtrInterface {
 public:
   using Ptr = Pemra::Ptr<Entity>;
   using PtrConst = Pemra::Ptr<Entity const>;

   explicit Entity(String name = String()) : name_(std::move(name)) {}

   TypeDescriptor const* fwkType() const override;
   virtual String nameString() const { return name_; }
   // Entities of this runtime have no parent to hand over to; the hook does nothing.
   virtual void handleParent() {}

   ZIN_ALLOCATED(Entity)

 protected:
   ~Entity() override = default;

 private:
   String name_;
};

}  // namespace Zin
