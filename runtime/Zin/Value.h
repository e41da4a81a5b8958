#pragma once
// A value as the generic attribute interface hands it around: a number, a flag, a string,
// a counted object, an enumerator, or a registered value type held opaquely.
#include <any>
#include <limits>
#include <type_traits>
#include <utility>

#include "Pemra/Ptr.h"
#include "Pemra/String.h"
#include "Zin/Alloc.h"
#include "Zin/Exception.h"
#include "Zin/PtrInterface.h"
#include "Zin/Types.h"

namespace Zin {

class TypeDescriptor;

class Value {
 public:
   enum class Kind : U8 { none, boolean, number, string, object, enumeration, opaque };

   Value() = default;
   static Value boolean(bool b) {
      Value v(Kind::boolean);
      v.number_ = b;
      return v;
   }
   static Value number(U64 n) {
      Value v(Kind::number);
      v.number_ = n;
      return v;
   }
   static Value string(String s) {
      Value v(Kind::string);
      v.string_ = std::move(s);
      return v;
   }
   // A null pointer is an object value too: it denotes "no object".
   static Value object(Pemra::Ptr<PtrInterface const> p) {
      Value v(Kind::object);
      v.object_ = std::move(p);
      return v;
   }
   static Value enumeration(TypeDescriptor const* type, U32 n) {
      Value v(Kind::enumeration);
      v.type_ = type;
      v.number_ = n;
      return v;
   }
   static Value opaque(TypeDescriptor const* type, std::any a) {
      Value v(Kind::opaque);
      v.type_ = type;
      v.opaque_ = std::move(a);
      return v;
   }

   Kind kind() const { return kind_; }
   TypeDescriptor const* type() const { return type_; }
   bool isNone() const { return kind_ == Kind::none; }

   bool asBool() const;
   // The number, refused with Zin::RangeException when it does not fit `bits`.
   U64 asNumber(unsigned bits = 64) const;
   String const& asString() const;
   Pemra::Ptr<PtrInterface const> const& asObject() const;
   std::any const& asOpaque() const;
   std::any& asOpaque();

 private:
   explicit Value(Kind k) : kind_(k) {}
   [[noreturn]] void wrongKind(char const* wanted) const;

   Kind kind_ = Kind::none;
   TypeDescriptor const* type_ = nullptr;
   U64 number_ = 0;
   String string_;
   Pemra::Ptr<PtrInterface const> object_;
   std::any opaque_;
};

// How a C++ type travels as a Value. Modules specialise it for their enums and value types.
template <class T, class = void>
struct ValueTraits;

template <>
struct ValueTraits<bool> {
   static Value to(bool b) { return Value::boolean(b); }
   static bool from(Value const& v) { return v.asBool(); }
};

template <class T>
struct ValueTraits<T, std::enable_if_t<std::is_integral_v<T> && std::is_unsigned_v<T> &&
                                       !std::is_same_v<T, bool>>> {
   static Value to(T n) { return Value::number(n); }
   static T from(Value const& v) {
      return static_cast<T>(v.asNumber(std::numeric_limits<T>::digits));
   }
};

template <>
struct ValueTraits<String> {
   static Value to(String const& s) { return Value::string(s); }
   static String from(Value const& v) { return v.asString(); }
};

template <>
struct ValueTraits<void*> {
   static Value to(void* p) { return Value::number(reinterpret_cast<std::uintptr_t>(p)); }
   static void* from(Value const& v) { return reinterpret_cast<void*>(v.asNumber()); }
};

// Counted pointers, const or not. Converting an object of another class is refused with
// Zin::ValueTypeException naming the class that was expected.
template <class T>
struct ValueTraits<Pemra::Ptr<T>> {
   using Object = std::remove_const_t<T>;
   static Value to(Pemra::Ptr<T> const& p) {
      return Value::object(Pemra::Ptr<PtrInterface const>(p.ptr()));
   }
   static Pemra::Ptr<T> from(Value const& v) {
      auto const& obj = v.asObject();
      if (!obj) return nullptr;
      auto* typed = dynamic_cast<Object const*>(obj.ptr());
      if (!typed) {
         throw ValueTypeException("cannot convert value to " + String(typeNameOf<Object>()));
      }
      return Pemra::Ptr<T>(const_cast<T*>(typed));
   }
};

template <class T>
Value valueOf(T const& t) {
   return ValueTraits<std::decay_t<T>>::to(t);
}
template <class T>
T valueAs(Value const& v) {
   return ValueTraits<std::decay_t<T>>::from(v);
}

}  // namespace Zin
