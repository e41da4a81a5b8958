// Attributes of registered value types, read and set by name on the opaque value.
#include "Zin/TypeRegistry.h"

namespace Zin {

namespace {

AttributeDescriptor const& valueAttributeFind(Value const& v, std::string_view name) {
   TypeDescriptor const* t = v.type();
   if (v.kind() != Value::Kind::opaque || !t) {
      throw ValueTypeException("attribute '" + String(name) +
                               "' asked of a value of no value type");
   }
   AttributeDescriptor const* a = t->attribute(name);
   if (!a || !a->valueGet) {
      throw AttributeNotFoundException("value type " + t->name() + " has no attribute '" +
                                       String(name) + "'");
   }
   return *a;
}

}  // namespace

Value valueAttribute(Value const& v, std::string_view name) {
   return valueAttributeFind(v, name).valueGet(v.asOpaque());
}

void valueAttributeIs(Value& v, std::string_view name, Value const& attr) {
   AttributeDescriptor const& a = valueAttributeFind(v, name);
   if (!a.valueSet) {
      throw AttributeReadOnlyException("attribute '" + String(name) + "' of value type " +
                                       v.type()->name() + " is given only at construction");
   }
   a.valueSet(v.asOpaque(), attr);
}

}  // namespace Zin
