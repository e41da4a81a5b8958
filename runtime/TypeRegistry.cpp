#include "Zin/TypeRegistry.h"

#include <algorithm>

#include "Zin/Assert.h"
#include "Zin/Entity.h"

namespace Zin {

bool TypeDescriptor::isA(TypeDescriptor const* other) const {
   for (TypeDescriptor const* t = this; t; t = t->parent_) {
      if (t == other) return true;
   }
   return false;
}

std::vector<AttributeDescriptor const*> const& TypeDescriptor::attributes() const {
   std::call_once(listed_, [this] {
      if (parent_) all_ = parent_->attributes();
      for (AttributeDescriptor const& a : attributes_)
         all_.push_back(&a);
      sealed_.store(true, std::memory_order_release);
   });
   return all_;
}

AttributeDescriptor& TypeDescriptor::attributeIs(AttributeDescriptor a) {
   // A class lists its attributes once; one added later would be missing from the list.
   if (sealed_.load(std::memory_order_acquire)) {
      assertFail("!sealed_", __FILE__, __LINE__, "Zin::TypeDescriptor::attributeIs");
   }
   attributes_.push_back(std::move(a));
   return attributes_.back();
}

AttributeDescriptor const* TypeDescriptor::attribute(std::string_view name) const {
   for (TypeDescriptor const* t = this; t; t = t->parent_) {
      for (AttributeDescriptor const& a : t->attributes_) {
         if (a.name == name) return &a;
      }
   }
   return nullptr;
}

TypeRegistry& TypeRegistry::instance() {
   static TypeRegistry* r = new TypeRegistry;
   return *r;
}

void TypeRegistry::moduleIs(String const& module,
                            std::initializer_list<TypeDescriptor const*> types) {
   if (std::find(modules_.begin(), modules_.end(), module) == modules_.end()) {
      modules_.push_back(module);
   }
   for (TypeDescriptor const* t : types) {
      // Replaced with its key, which is the name of the descriptor it stands for.
      types_.erase(t->name());
      types_.emplace(t->name(), t);
   }
}

TypeDescriptor const* TypeRegistry::type(std::string_view name) const {
   auto it = types_.find(name);
   return it == types_.end() ? nullptr : it->second;
}

std::vector<String> TypeRegistry::modules() const {
   return modules_;
}

namespace {

String className(PtrInterface const& obj) {
   TypeDescriptor const* t = obj.fwkType();
   return t ? t->name() : String("?");
}

AttributeDescriptor const& find(PtrInterface const& obj, std::string_view name) {
   TypeDescriptor const* t = obj.fwkType();
   AttributeDescriptor const* a = t ? t->attribute(name) : nullptr;
   if (!a) {
      throw AttributeNotFoundException("class " + className(obj) + " has no attribute '" +
                                       String(name) + "'");
   }
   return *a;
}

AttributeDescriptor const& findKind(PtrInterface const& obj, std::string_view name,
                                    AttributeDescriptor::Kind kind, char const* what) {
   AttributeDescriptor const& a = find(obj, name);
   if (a.kind != kind) {
      throw AttributeNotFoundException("attribute '" + String(name) + "' of class " +
                                       className(obj) + " is not " + what);
   }
   return a;
}

[[noreturn]] void refuse(PtrInterface const& obj, std::string_view name, char const* what) {
   throw AttributeReadOnlyException("attribute '" + String(name) + "' of class " + className(obj) +
                                    " " + what);
}

}  // namespace

Value attribute(PtrInterface const& obj, std::string_view name) {
   AttributeDescriptor const& a = find(obj, name);
   if (!a.get) {
      throw AttributeNotFoundException("'" + String(name) + "' of class " + className(obj) +
                                       " is an operation, not a readable attribute");
   }
   return a.get(obj);
}

void attributeIs(PtrInterface& obj, std::string_view name, Value const& value) {
   AttributeDescriptor const& a = find(obj, name);
   if (a.kind == AttributeDescriptor::Kind::operation) {
      throw AttributeNotFoundException("'" + String(name) + "' of class " + className(obj) +
                                       " is an operation, not a settable attribute");
   }
   if (!a.set) refuse(obj, name, "is read-only");
   a.set(obj, value);
}

Value attributeInstantiate(PtrInterface& obj, std::string_view name,
                           std::vector<Value> const& args) {
   AttributeDescriptor const& a = find(obj, name);
   if (!a.instantiate) refuse(obj, name, "cannot be instantiated");
   if (args.size() != a.argumentNames.size()) {
      throw ValueTypeException(String(name) + "Is expects " +
                               std::to_string(a.argumentNames.size()) + " arguments");
   }
   return a.instantiate(obj, args);
}

Value attributeDel(PtrInterface& obj, std::string_view name) {
   AttributeDescriptor const& a = find(obj, name);
   if (!a.clear) refuse(obj, name, "cannot be cleared");
   return a.clear(obj);
}

Value operationCall(PtrInterface& obj, std::string_view name, std::vector<Value> const& args) {
   return findKind(obj, name, AttributeDescriptor::Kind::operation, "an operation").call(obj, args);
}

namespace {
AttributeDescriptor const& collectionOf(PtrInterface const& obj, std::string_view name) {
   return findKind(obj, name, AttributeDescriptor::Kind::collection, "a collection");
}
// A collection registered without a reading form does not offer it; one without insert or
// erase is read-only.
template <class F>
F const& readForm(PtrInterface const& obj, std::string_view name, F const& f, char const* what) {
   if (!f) {
      throw AttributeNotFoundException("collection '" + String(name) + "' of class " +
                                       className(obj) + " " + what);
   }
   return f;
}
template <class F>
F const& writeForm(PtrInterface const& obj, std::string_view name, F const& f) {
   if (!f) refuse(obj, name, "is read-only");
   return f;
}
}  // namespace

Value collectionEntry(PtrInterface const& obj, std::string_view name, Value const& key) {
   auto const& a = collectionOf(obj, name);
   return readForm(obj, name, a.lookup, "cannot be looked up")(obj, key);
}

void collectionEntryIs(PtrInterface& obj, std::string_view name, Value const& key,
                       Value const& value) {
   auto const& a = collectionOf(obj, name);
   writeForm(obj, name, a.insert)(obj, key, value);
}

void collectionEntryDel(PtrInterface& obj, std::string_view name, Value const& key) {
   auto const& a = collectionOf(obj, name);
   writeForm(obj, name, a.erase)(obj, key);
}

bool collectionEntryHas(PtrInterface const& obj, std::string_view name, Value const& key) {
   auto const& a = collectionOf(obj, name);
   return readForm(obj, name, a.has, "cannot be searched")(obj, key);
}

U64 collectionSize(PtrInterface const& obj, std::string_view name) {
   auto const& a = collectionOf(obj, name);
   return readForm(obj, name, a.count, "cannot be counted")(obj);
}

std::vector<std::pair<Value, Value>> collectionEntries(PtrInterface const& obj,
                                                       std::string_view name) {
   auto const& a = collectionOf(obj, name);
   return readForm(obj, name, a.pairs, "cannot be listed")(obj);
}

U64 valueHash(Value const& v) {
   TypeDescriptor const* t = v.type();
   if (!t || !t->hash) {
      throw UnhashableTypeException("unhashable type: '" + (t ? t->name() : String("?")) + "'");
   }
   return t->hash(v);
}

TypeDescriptor const& ptrInterfaceType() {
   static TypeDescriptor* d =
       new TypeDescriptor("Zin::PtrInterface", TypeDescriptor::Kind::cls, nullptr);
   return *d;
}

TypeDescriptor const& entityType() {
   // The name is not an attribute: entities of plug-ins show only their own attributes.
   static TypeDescriptor* d =
       new TypeDescriptor("Zin::Entity", TypeDescriptor::Kind::cls, &ptrInterfaceType());
   return *d;
}

TypeDescriptor const* PtrInterface::fwkType() const {
   return &ptrInterfaceType();
}
TypeDescriptor const* Entity::fwkType() const {
   return &entityType();
}

namespace {
struct RuntimeModule {
   RuntimeModule() {
      TypeRegistry::instance().moduleIs("Zin", {&ptrInterfaceType(), &entityType()});
   }
} runtimeModule;
}  // namespace

}  // namespace Zin
