#pragma once
// Intrusive counted pointer over Zin::PtrInterface. Ptr<T const> is the PtrConst form.
#include <cstddef>
#include <functional>
#include <ostream>
#include <type_traits>
#include <utility>

#include "Zin/PtrInterface.h"

namespace Pemra {

template <class T>
class Ptr {
 public:
   using element_type = T;

   Ptr() noexcept = default;
   Ptr(std::nullptr_t) noexcept {}
   Ptr(T* p) : p_(p) {
      if (p_) p_->newRef();
   }
   Ptr(Ptr const& o) : Ptr(o.p_) {}
   Ptr(Ptr&& o) noexcept : p_(std::exchange(o.p_, nullptr)) {}
   template <class U, class = std::enable_if_t<std::is_convertible_v<U*, T*>>>
   Ptr(Ptr<U> const& o) : Ptr(o.ptr()) {}
   template <class U, class = std::enable_if_t<std::is_convertible_v<U*, T*>>>
   Ptr(Ptr<U>&& o) noexcept : p_(o.release()) {}
   ~Ptr() {
      if (p_) p_->deleteRef();
   }

   Ptr& operator=(Ptr const& o) {
      Ptr(o).swap(*this);
      return *this;
   }
   Ptr& operator=(Ptr&& o) noexcept {
      Ptr(std::move(o)).swap(*this);
      return *this;
   }
   Ptr& operator=(std::nullptr_t) {
      Ptr().swap(*this);
      return *this;
   }

   T* ptr() const noexcept { return p_; }
   T* operator->() const noexcept { return p_; }
   T& operator*() const noexcept { return *p_; }
   explicit operator bool() const noexcept { return p_ != nullptr; }
   void swap(Ptr& o) noexcept { std::swap(p_, o.p_); }

   // Gives up ownership without dropping the count.
   T* release() noexcept { return std::exchange(p_, nullptr); }

 private:
   T* p_ = nullptr;
};

// Identity: the same object, even when the two pointers name different subobjects of it
// (a base that does not sit at the front of the derived class).
template <class T, class U>
bool operator==(Ptr<T> const& a, Ptr<U> const& b) noexcept {
   if constexpr (requires { a.ptr() == b.ptr(); }) {
      return a.ptr() == b.ptr();
   } else {
      return dynamic_cast<void const*>(a.ptr()) == dynamic_cast<void const*>(b.ptr());
   }
}
template <class T>
bool operator==(Ptr<T> const& a, std::nullptr_t) noexcept {
   return a.ptr() == nullptr;
}
template <class T>
std::ostream& operator<<(std::ostream& os, Ptr<T> const& p) {
   return os << static_cast<void const*>(p.ptr());
}

template <class T, class U>
Ptr<T> ptr_cast(Ptr<U> const& p) {
   return Ptr<T>(static_cast<T*>(p.ptr()));
}
template <class T, class U>
Ptr<T> dynamic_ptr_cast(Ptr<U> const& p) {
   return Ptr<T>(dynamic_cast<T*>(p.ptr()));
}

}  // namespace Pemra

template <class T>
struct std::hash<Pemra::Ptr<T>> {
   std::size_t operator()(Pemra::Ptr<T> const& p) const noexcept {
      return std::hash<void const*>()(p.ptr());
   }
};
