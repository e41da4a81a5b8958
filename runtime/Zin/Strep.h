#pragma once
// The runtime's generic text forms. A counted object prints as
//    Object('<class>', ** {'<attribute>': <value>, ...})
// with the fields of its class in declaration order, leaving out an optional field that was
// never given; the null pointer prints as None. Numbers print in decimal, flags as True or
// False, strings single-quoted with backslash escapes, enumerators by name, value types
// through their descriptor's text hook. The parser reads back exactly these forms and builds
// the object a text names through the registry's `create`.
#include <cstddef>
#include <string_view>
#include <type_traits>

#include "Pemra/Ptr.h"
#include "Zin/CharRange.h"
#include "Zin/StrepException.h"
#include "Zin/TypeRegistry.h"
#include "Zin/Value.h"

namespace Zin {

inline constexpr std::string_view kNoneStrep = "None";

String objectToStrep(PtrInterface const* obj);
inline String objectToStrep(Pemra::Ptr<PtrInterface const> const& obj) {
   return objectToStrep(obj.ptr());
}
// The text form of any value; a value type without a text hook is refused with
// ValueTypeException.
String valueToStrep(Value const& v);
// The same, appended to `out` (what an object's or value's text is built of).
void objectStrepAppend(String& out, PtrInterface const* obj);
void valueStrepAppend(String& out, Value const& v);

// Consumes `literal` at the front of `in`; MissingStringException at the front otherwise.
void stringExpect(CharRange& in, std::string_view literal);
// The all-data-consumed check of a whole-string parse: UnconsumedDataException unless `in`
// is empty.
void allDataConsumedCheck(CharRange const& in);

// Reads a counted object from the front of `in`; null for None. Errors: ParseException and its
// kinds for malformed text, AttributeNotFoundException for an attribute the class lacks,
// ValueTypeException for a value of the wrong kind, AttributeRangeException for a number or
// name out of range for its attribute. What was built is released on every error.
Pemra::Ptr<PtrInterface> sequenceToObject(CharRange& in);
// False when objects are nested as deep as sequenceToObject takes them on this thread, so that
// it would refuse one more.
bool parseDepthLeft();

[[noreturn]] void objectClassMismatch(PtrInterface const& obj, TypeDescriptor const& expected,
                                      std::size_t position);

// As above, but the object must be of class T (descriptor `expected`) or a subclass of it;
// another class is refused with ValueTypeException "cannot convert <class> to <expected>".
template <class T>
Pemra::Ptr<T> sequenceToObject(CharRange& in, TypeDescriptor const& expected) {
   std::size_t const start = in.position();
   Pemra::Ptr<PtrInterface> obj = sequenceToObject(in);
   if (!obj) return nullptr;
   auto* typed = dynamic_cast<std::remove_const_t<T>*>(obj.ptr());
   if (!typed) objectClassMismatch(*obj, expected, start);
   return Pemra::Ptr<T>(typed);
}

// Reads any value whose kind the text itself shows: None, True, False, a number, a string, an
// object, or a value type's "Value('<type>', ...)" form. Bare enumerator names are read only
// inside an object, where the attribute gives their type.
Value sequenceToValue(CharRange& in);

// Generic entry point: builds a value of the registered value type `type` from the whole of
// `text`, through the type's hooks.
Value strepToValue(TypeDescriptor const& type, String const& text);

// Whole-string parse of a value type that reads itself from a range: parse, then require that
// nothing is left. On failure the value already built is released with the stack.
template <class T>
T strepToValue(String const& text) {
   CharRange in(text);
   T value(in);
   allDataConsumedCheck(in);
   return value;
}

}  // namespace Zin
