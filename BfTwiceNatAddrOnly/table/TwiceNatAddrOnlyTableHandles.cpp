#include "BfTwiceNatAddrOnly/table/TwiceNatAddrOnlyTableHandles.h"

namespace BfTwiceNatAddrOnly {

Zin::TypeDescriptor const& TwiceNatAddrOnlyTableHandles::type() {
   using C = TwiceNatAddrOnlyTableHandles;
   using Match = TwiceNatAddrOnlyMatchSpec::PtrConst;
   static Zin::TypeDescriptor const& d = []() -> Zin::TypeDescriptor const& {
      Zin::AttributeDescriptor entry;
      entry.name = "entry";
      entry.lookup = [](Zin::PtrInterface const& o, Zin::Value const& key) {
         return Zin::valueOf(Zin::ClassBuilder<C>::self(o).entry(Zin::valueAs<Match>(key)));
      };
      entry.insert = [](Zin::PtrInterface& o, Zin::Value const& key, Zin::Value const& handle) {
         Zin::ClassBuilder<C>::self(o).entryIs(Zin::valueAs<Match>(key),
                                               Zin::valueAs<BfnTable::BfnSdkEntryHandle>(handle));
      };
      entry.erase = [](Zin::PtrInterface& o, Zin::Value const& key) {
         Zin::ClassBuilder<C>::self(o).entryDel(Zin::valueAs<Match>(key));
      };
      entry.has = [](Zin::PtrInterface const& o, Zin::Value const& key) {
         return Zin::ClassBuilder<C>::self(o).entryHas(Zin::valueAs<Match>(key));
      };
      entry.count = [](Zin::PtrInterface const& o) {
         return Zin::ClassBuilder<C>::self(o).entries();
      };
      entry.pairs = [](Zin::PtrInterface const& o) {
         std::vector<std::pair<Zin::Value, Zin::Value>> out;
         for (auto const& it : Zin::ClassBuilder<C>::self(o).entryMap()) {
            out.emplace_back(Zin::valueOf(it.key()), Zin::valueOf(it.value()));
         }
         return out;
      };
      return Zin::ClassBuilder<C>("BfTwiceNatAddrOnly::TwiceNatAddrOnlyTableHandles",
                                  &Zin::entityType())
          .creatable()
          .collection(std::move(entry))
          .done();
   }();
   return d;
}

}  // namespace BfTwiceNatAddrOnly
