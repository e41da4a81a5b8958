#pragma once
// The SDK entry handle of every entry the library has programmed, keyed by the identity of
// its match spec. The map holds one count on each key.
//
// A match spec has room for one map's hook (TwiceNatAddrOnlyMatchSpec): the map's tag, the
// handle and the key's place in the map's list of keys. A map keeps the handles of the keys it
// hooks there, so that finding a key's handle reads only the match spec, which every table
// operation reads anyway, and never a table of the map's own. The list of keys serves the count and
// the walk; a removed key leaves a hole there that the next key takes. Keys that another map hooks,
// the null key, and every key of a map that found no free tag go to a hash map keyed by address.
#include "BfTwiceNatAddrOnly/entry/TwiceNatAddrOnlyMatchSpec.h"
#include "Zin/Entity.h"
#include "Zin/IdentityMap.h"

namespace BfTwiceNatAddrOnly {

class TwiceNatAddrOnlyTableHandles : public Zin::Entity {
 public:
   using Ptr = Pemra::Ptr<TwiceNatAddrOnlyTableHandles>;
   using PtrConst = Pemra::Ptr<TwiceNatAddrOnlyTableHandles const>;
   using Key = TwiceNatAddrOnlyMatchSpec::PtrConst;
   using Handle = BfnTable::BfnSdkEntryHandle;
   using Others = Zin::IdentityMap<TwiceNatAddrOnlyMatchSpec, Handle>;

   TwiceNatAddrOnlyTableHandles();
   static Ptr TwiceNatAddrOnlyTableHandlesIs() { return new TwiceNatAddrOnlyTableHandles(); }

   // The handle stored for `match`; 0 when `match` is not a key.
   Handle entry(Key const& match) const {
      Handle const* h = find(match.ptr());
      return h ? *h : 0;
   }
   // Adds the pair, taking a count on `match`, or replaces the handle of a key already held.
   void entryIs(Key const& match, Handle handle) { entryIs(Position(), match, handle); }
   // Removes the pair and drops the count on its key; nothing when `match` is not a key.
   void entryDel(Key const& match) { entryDel(Position(), match); }
   // True for every key, whatever its handle (0 included).
   bool entryHas(Key const& match) const { return find(match.ptr()) != nullptr; }
   U64 entries() const { return keys_.size() - holes_.size() + others_.size(); }
   // Room for `n` keys in all before the list of keys grows, for a caller that knows how many
   // entries are coming (a load): one list of the final size instead of each doubling's copy,
   // on memory the process has never touched. Keys kept by address are not counted.
   void reserve(std::size_t n) { keys_.reserve(n); }

   // The handle stored for `match`, or null when it is not a key.
   Handle const* find(TwiceNatAddrOnlyMatchSpec const* match) const {
      if (match && hooked(*match)) return &match->hookHandle_;
      return others_.empty() ? nullptr : others_.find(match);
   }

   // Where `match` is held or would go, for the operation that looks it up and then adds or
   // drops it: the position's value is its handle (null when absent). A hooked key needs no
   // position; for the others it spares the hash map a second probe.
   class Position {
    public:
      Handle const* value() const { return value_; }

    private:
      friend class TwiceNatAddrOnlyTableHandles;
      Handle const* value_ = nullptr;
      Others::Position other_;
   };
   Position entryPosition(Key const& match) const {
      Position at;
      TwiceNatAddrOnlyMatchSpec const* m = match.ptr();
      if (m && hooked(*m)) {
         at.value_ = &m->hookHandle_;
      } else if (!others_.empty() || !hookable(m)) {
         at.other_ = others_.locate(m);
         at.value_ = at.other_.value();
      }
      return at;
   }
   void entryIs(Position const& at, Key const& match, Handle handle);
   void entryDel(Position const& at, Key const& match);

   // Every pair once: the hooked keys in the order of their places, then the others.
   class Iterator {
    public:
      Key key() const;
      Handle value() const;
      Iterator& operator++();
      Iterator const& operator*() const { return *this; }
      bool operator==(Iterator const& o) const { return place_ == o.place_ && other_ == o.other_; }
      bool operator!=(Iterator const& o) const { return !(*this == o); }

    private:
      friend class TwiceNatAddrOnlyTableHandles;
      Iterator(TwiceNatAddrOnlyTableHandles const* m, std::size_t place, Others::Iterator other);
      void skipHoles();
      TwiceNatAddrOnlyTableHandles const* m_;
      std::size_t place_;  // keys_.size() once the hooked keys are done
      Others::Iterator other_;
   };
   Iterator entryIter() const { return Iterator(this, 0, others_.begin()); }
   // From `from` on, in the walk's order; entryEnd() when it is not a key.
   Iterator entryIter(Key const& from) const;
   Iterator entryEnd() const { return Iterator(this, keys_.size(), others_.end()); }
   Iterator begin() const { return entryIter(); }
   Iterator end() const { return entryEnd(); }

   // Bytes of the map's own tables (the hooks live in the specs).
   std::size_t bytes() const {
      return keys_.capacity() * sizeof(keys_[0]) + holes_.capacity() * sizeof(U32) +
             others_.bytes();
   }

   static Zin::TypeDescriptor const& type();
   Zin::TypeDescriptor const* fwkType() const override { return &type(); }

   ZIN_ALLOCATED(TwiceNatAddrOnlyTableHandles)

 protected:
   // Unhooks and releases every key.
   ~TwiceNatAddrOnlyTableHandles() override;

 private:
   bool hooked(TwiceNatAddrOnlyMatchSpec const& m) const { return tag_ != 0 && m.hookTag_ == tag_; }
   // A key this map may hook: it has a tag, and no map hooks the key yet. (Whether the key is
   // among the others already is the caller's to ask.)
   bool hookable(TwiceNatAddrOnlyMatchSpec const* m) const {
      return m && tag_ != 0 && m->hookTag_ == 0;
   }

   // Keys this map hooks, by place (null in a hole), each holding one count.
   std::vector<TwiceNatAddrOnlyMatchSpec const*,
               Zin::TableAllocator<TwiceNatAddrOnlyMatchSpec const*>>
       keys_;
   // Places that removals freed, the last freed taken first.
   std::vector<U32> holes_;
   Others others_;
   // This map's tag in its keys' hooks; 0 when every tag was taken at its creation.
   U8 tag_;
};

inline TwiceNatAddrOnlyTableHandles::Ptr twiceNatAddrOnlyTableHandlesFactory() {
   return TwiceNatAddrOnlyTableHandles::TwiceNatAddrOnlyTableHandlesIs();
}

}  // namespace BfTwiceNatAddrOnly
