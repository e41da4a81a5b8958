#include "BfTwiceNatAddrOnly/table/TwiceNatAddrOnlyTableHandles.h"

#include <bitset>
#include <mutex>

namespace BfTwiceNatAddrOnly {

namespace {

// Tags of the maps alive; tag 0 stands for no map.
struct Tags {
   std::mutex lock;
   std::bitset<256> taken{1};
};

Tags& tags() {
   static Tags t;
   return t;
}

U8 takeTag() {
   Tags& t = tags();
   std::lock_guard<std::mutex> hold(t.lock);
   for (unsigned tag = 1; tag < t.taken.size(); ++tag) {
      if (!t.taken[tag]) {
         t.taken.set(tag);
         return static_cast<U8>(tag);
      }
   }
   return 0;
}

void giveBack(U8 tag) {
   if (tag == 0) return;
   Tags& t = tags();
   std::lock_guard<std::mutex> hold(t.lock);
   t.taken.reset(tag);
}

}  // namespace

TwiceNatAddrOnlyTableHandles::TwiceNatAddrOnlyTableHandles() : tag_(takeTag()) {}

TwiceNatAddrOnlyTableHandles::~TwiceNatAddrOnlyTableHandles() {
   for (TwiceNatAddrOnlyMatchSpec const* k : keys_) {
      if (!k) continue;
      k->hookTag_ = 0;
      k->deleteRef();
   }
   giveBack(tag_);
}

void TwiceNatAddrOnlyTableHandles::entryIs(Position const& at, Key const& match, Handle handle) {
   TwiceNatAddrOnlyMatchSpec const* m = match.ptr();
   if (m && hooked(*m)) {
      m->hookHandle_ = handle;
      return;
   }
   if (!hookable(m) || (!others_.empty() && others_.contains(m))) {
      others_.insertAt(at.other_, match, handle);
      return;
   }
   U32 place;
   if (!holes_.empty()) {
      place = holes_.back();
      holes_.pop_back();
      keys_[place] = m;
   } else {
      place = static_cast<U32>(keys_.size());
      keys_.push_back(m);
   }
   m->newRef();
   m->hookTag_ = tag_;
   m->hookHandle_ = handle;
   m->hookPlace_ = place;
}

void TwiceNatAddrOnlyTableHandles::entryDel(Position const& at, Key const& match) {
   TwiceNatAddrOnlyMatchSpec const* m = match.ptr();
   if (!m || !hooked(*m)) {
      if (!others_.empty()) others_.eraseAt(at.other_, m);
      return;
   }
   U32 const place = m->hookPlace_;
   // Written, not read: the place's line need not be fetched.
   keys_[place] = nullptr;
   holes_.push_back(place);
   m->hookTag_ = 0;
   m->deleteRef();  // last: the count may be the match spec's last
}

TwiceNatAddrOnlyTableHandles::Iterator TwiceNatAddrOnlyTableHandles::entryIter(
    Key const& from) const {
   TwiceNatAddrOnlyMatchSpec const* m = from.ptr();
   if (m && hooked(*m)) return Iterator(this, m->hookPlace_, others_.begin());
   Others::Iterator const other = others_.iteratorAt(m);
   if (other == others_.end()) return entryEnd();
   return Iterator(this, keys_.size(), other);
}

TwiceNatAddrOnlyTableHandles::Iterator::Iterator(TwiceNatAddrOnlyTableHandles const* m,
                                                 std::size_t place, Others::Iterator other)
    : m_(m), place_(place), other_(other) {
   skipHoles();
}

void TwiceNatAddrOnlyTableHandles::Iterator::skipHoles() {
   while (place_ < m_->keys_.size() && !m_->keys_[place_])
      ++place_;
}

TwiceNatAddrOnlyTableHandles::Key TwiceNatAddrOnlyTableHandles::Iterator::key() const {
   return place_ < m_->keys_.size() ? Key(m_->keys_[place_]) : other_.key();
}

TwiceNatAddrOnlyTableHandles::Handle TwiceNatAddrOnlyTableHandles::Iterator::value() const {
   return place_ < m_->keys_.size() ? m_->keys_[place_]->hookHandle_ : other_.value();
}

TwiceNatAddrOnlyTableHandles::Iterator& TwiceNatAddrOnlyTableHandles::Iterator::operator++() {
   if (place_ < m_->keys_.size()) {
      ++place_;
      skipHoles();
   } else {
      ++other_;
   }
   return *this;
}

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
         for (auto const& it : Zin::ClassBuilder<C>::self(o)) {
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
