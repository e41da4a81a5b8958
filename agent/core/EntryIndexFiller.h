#pragma once
// Fills an index from a walk that meets its entries one at a time (a start's walk over the key
// table). Inserted as met, each key lands on a random slot of an index far larger than the
// caches: a miss per key that prefetching hides badly, since a probe run often spills into the
// next line. So into an empty index the walk only stages each key, appended at the front of its
// home's window of slots (4096 slots, which the second-level cache holds), and the flush then
// places the keys window by window: the staged ones are taken out, and each put at its home or
// past it. The windows go from the last to the second, then the first (cleared before any), so
// that a probe running past its window's end meets placed keys or empty slots. It could meet
// staged ones only by wrapping past the whole first window, which the keys staged in the windows
// after it, never more than their slots, cannot fill; such a key, and a key that finds its
// window's stage full, would wait until every window is placed.
//
// Two keys that are the same have the same home, so they are staged in the order met and placed
// in it: the first is kept and the later ones reported. An index that holds keys already takes
// the walk's keys one by one.
#include <algorithm>
#include <vector>

#include "agent/core/EntryIndex.h"

namespace TwiceNatAgent {

class EntryIndexFiller {
 public:
   // A key met when the index held it already, under `kept`.
   struct Repeat {
      U64 entryKey;
      U64 kept;
   };
   using Slot = EntryIndex::Slot;

   explicit EntryIndexFiller(EntryIndex& index) : index_(index) {}

   void add(MatchKey const& key, U64 entryKey) {
      Slot const item{key, U32(entryKey)};
      if (!staging_ && !begin()) return place(item);
      std::size_t const w = index_.home(key) / kWindow;
      U32& staged = staged_[w];
      if (staged < windowSize(w)) {
         index_.slots_[w * kWindow + staged++] = item;
      } else {
         late_.push_back(item);
      }
   }

   // Places the keys staged; the index counts them from here.
   void flush() {
      if (!staging_) return;
      staging_ = false;
      std::size_t const windows = staged_.size();
      std::size_t total = late_.size();
      for (U32 n : staged_)
         total += n;
      if (total * 4 > index_.slots_.size() * 3) {
         // More than the room reserved: every key, in the order staged, inserted as the index
         // grows.
         std::vector<Slot> all;
         for (std::size_t w = 0; w < windows; ++w) {
            takeStaged(w, buffer_);
            all.insert(all.end(), buffer_.begin(), buffer_.end());
         }
         all.insert(all.end(), late_.begin(), late_.end());
         late_.clear();
         staged_.clear();
         for (Slot const& item : all)
            place(item);
         return;
      }
      std::vector<Slot> first;
      takeStaged(0, first);
      for (std::size_t w = windows; w-- > 1;) {
         takeStaged(w, buffer_);
         for (Slot const& item : buffer_)
            placeBefore(item, w);
      }
      for (Slot const& item : first)
         placeBefore(item, 1);
      staged_.clear();
      std::vector<Slot> const late = std::move(late_);
      late_.clear();
      for (Slot const& item : late)
         place(item);
   }

   std::vector<Repeat> repeats;

 private:
   static constexpr std::size_t kWindow = 4096;

   // Staging needs an empty index with room for every key it may be given: a start reserves
   // room for all its records first.
   bool begin() {
      if (index_.size() != 0) return false;
      staging_ = true;
      staged_.assign((index_.slots_.size() + kWindow - 1) / kWindow, 0);
      return true;
   }
   std::size_t windowSize(std::size_t w) const {
      return std::min(kWindow, index_.slots_.size() - w * kWindow);
   }
   // Window w's staged keys into `into`, in the order staged, and its slots cleared.
   void takeStaged(std::size_t w, std::vector<Slot>& into) {
      auto const from = index_.slots_.begin() + std::ptrdiff_t(w * kWindow);
      into.assign(from, from + staged_[w]);
      std::fill_n(from, staged_[w], Slot{});
      staged_[w] = 0;
   }
   // Puts `item` at its home or past it while windows 1 to w - 1 still hold staged keys; a
   // probe that would reach them makes it wait for the end.
   void placeBefore(Slot const& item, std::size_t w) {
      std::size_t const stagedFrom = kWindow, stagedTo = w * kWindow;
      for (std::size_t i = index_.home(item.key);; i = index_.next(i)) {
         if (i >= stagedFrom && i < stagedTo) {
            late_.push_back(item);
            return;
         }
         Slot& s = index_.slots_[i];
         if (!s.entryKey) {
            s = item;
            ++index_.size_;
            return;
         }
         if (s.key == item.key) {
            repeats.push_back({item.entryKey, s.entryKey});
            return;
         }
      }
   }
   void place(Slot const& item) {
      EntryIndex::Position const at = index_.locate(item.key);
      if (at.entryKey) {
         repeats.push_back({item.entryKey, at.entryKey});
      } else {
         index_.insertAt(at, item.key, item.entryKey);
      }
   }

   EntryIndex& index_;
   bool staging_ = false;
   std::vector<U32> staged_;  // keys staged at the front of each window
   std::vector<Slot> late_;   // placed once every window is
   std::vector<Slot> buffer_;
};

}  // namespace TwiceNatAgent
