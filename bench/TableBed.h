// One simulated chip attached as a device and one table of a back end over it, with a batch of
// entries made up front, for the families that time the table's hot paths next to bare SDK
// calls. A bed with services wires the agent's key manager (over a key table in a scratch
// folder that the bed removes) and status manager into the table, as the agent does.
#pragma once

#include <benchmark/benchmark.h>
#include <dlfcn.h>
#include <time.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "BfTwiceNatAddrOnly/table/TwiceNatAddrOnlyTableFactory.h"
#include "HeapCount.h"
#include "agent/KeyManager.h"
#include "agent/StatusManager.h"
#include "chip/Chip.h"
#include "chip/Devices.h"

namespace bench {

using namespace BfTwiceNatAddrOnly;

inline constexpr int kBatch = 1024;
inline constexpr char kSdkLib[] = TWICENAT_LIB_DIR "/libtwicenat_sdk.so";
inline constexpr U32 kSession = 1;
inline constexpr U16 kAllPipes = 0xFFFF;

inline void* sdkLibrary() {
   static void* const dl = [] {
      void* h = dlopen(kSdkLib, RTLD_NOW);
      if (!h) {
         std::fprintf(stderr, "%s\n", dlerror());
         std::abort();
      }
      return h;
   }();
   return dl;
}

enum class Backend { pd, bfrt };

struct Bed {
   Bed(Backend backend, bool services, U8 dev) : dev(dev) {
      chip::Profile p;
      p.bfrt = backend == Backend::bfrt;
      p.capacity = 4 * kBatch;
      chip = chip::Chip::createPrivate(p);
      chip::attach(dev, *chip);
      if (services) {
         char tmpl[] = "/tmp/twicenat_bench_XXXXXX";
         if (!mkdtemp(tmpl)) std::abort();
         folder = tmpl;
         keys = TwiceNatAgent::KeyManager::keyManagerIs(
             TwiceNatAgent::KeyTable::openOrCreate(folder + "/keys", 4 * kBatch));
         statuses = TwiceNatAgent::StatusManager::statusManagerIs(keys);
      }
      table = twiceNatAddrOnlyTableFactory(keys, statuses, sdkLibrary(), kSession, dev, kAllPipes,
                                           kSdkLib);
      for (int i = 0; i < kBatch; ++i) {
         auto m = twiceNatAddrOnlyMatchSpecFactory();
         m->outerIpv4HdrDipIs(0x0A000000u + i);
         m->outerIpv4HdrSipIs(0xC0A80001u);
         m->l3InfoVrfIdIs(static_cast<U16>(i & 0xFF));
         auto a = twiceNatAddrOnlyHitActionSpecFactory();
         a->keyIdIs(static_cast<U16>(i));
         a->nextHopIs(7);
         TwiceNatAddrOnlyTableEntry e(m);
         e.actionIs(a);
         entries.push_back(e);
         auto b = twiceNatAddrOnlyHitEcmpActionSpecFactory();
         b->keyIdIs(static_cast<U16>(i));
         b->ecmpGroupIs(3);
         TwiceNatAddrOnlyTableEntry alt(m);
         alt.actionIs(b);
         modified.push_back(alt);
      }
   }
   ~Bed() {
      entries.clear();
      modified.clear();
      table = nullptr;
      statuses = nullptr;
      keys = nullptr;
      chip::detach(dev);
      chip.reset();
      if (!folder.empty()) std::filesystem::remove_all(folder);
   }
   Bed(Bed const&) = delete;
   Bed& operator=(Bed const&) = delete;

   BfPdTwiceNatAddrOnly::BfPdTwiceNatAddrOnlyIntf& pd() const { return *table->helper()->pdLib(); }

   // What the agent does around the library's calls when it has services: the record written
   // once the chip holds the entry, and the key and status given up after a removal.
   void recorded(TwiceNatAddrOnlyMatchSpec::PtrConst const& m, U16 flags = 0) const {
      if (!keys) return;
      U64 key = keys->keyOf(m.ptr());
      if (key != 0) keys->recordHandleIs(key, table->helper()->sdkHandles()->entry(m), flags);
   }
   void released(TwiceNatAddrOnlyMatchSpec::PtrConst const& m) const {
      if (!keys) return;
      keys->release(m.ptr());
      statuses->statusDel(m.ptr());
   }

   U8 dev;
   std::unique_ptr<chip::Chip> chip;
   std::string folder;
   TwiceNatAgent::KeyManager::Ptr keys;
   TwiceNatAgent::StatusManager::Ptr statuses;
   TwiceNatAddrOnlyTable::Ptr table;
   std::vector<TwiceNatAddrOnlyTableEntry> entries;
   std::vector<TwiceNatAddrOnlyTableEntry> modified;
};

// One bed per back end and wiring, made on first use and kept for the program's life. The
// BfRt back end keeps its key and data objects module-wide, bound to the table bound last, and
// runs take turns in random order with other beds and with families that make BfRt tables of
// their own: a BfRt bed binds its table again before each run.
inline Bed& bed(Backend backend, bool services = false) {
   if (backend == Backend::pd) {
      static Bed pd(Backend::pd, false, 10);
      static Bed pdServices(Backend::pd, true, 12);
      return services ? pdServices : pd;
   }
   static Bed rt(Backend::bfrt, false, 11);
   static Bed rtServices(Backend::bfrt, true, 13);
   Bed& b = services ? rtServices : rt;
   b.table->initializeTable(b.table->helper());
   return b;
}

// Items per iteration and the global heap allocations each item made.
inline void countOps(benchmark::State& st, long allocsBefore, int opsPerIter) {
   st.SetItemsProcessed(st.iterations() * opsPerIter);
   st.counters["allocs/op"] = benchmark::Counter(static_cast<double>(heapAllocs() - allocsBefore) /
                                                 static_cast<double>(st.iterations() * opsPerIter));
}

}  // namespace bench
