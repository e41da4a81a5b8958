// Speed of looking an entry up by its match spec (a readback through the chip), next to a
// baseline per back end that reads the entry back through the SDK itself and builds the same
// new match and action objects the library returns, so the ratio is the library's own work.
#include <cstring>

#include "Summary.h"
#include "TableBed.h"

namespace {

using namespace bench;

// Programs the batch for the run and removes it after.
struct Programmed {
   explicit Programmed(Bed& b) : b(b) {
      for (auto const& e : b.entries)
         b.table->entryIs(e);
      for (auto const& e : b.entries)
         handles.push_back(b.table->helper()->sdkHandles()->entry(e.match()));
   }
   ~Programmed() {
      for (auto const& e : b.entries)
         b.table->entryDel(e.match());
   }
   Bed& b;
   std::vector<U32> handles;
};

void libraryLookup(benchmark::State& st, Backend backend) {
   Bed& b = bed(backend);
   Programmed p(b);
   long before = heapAllocs();
   for (auto _ : st) {
      for (auto const& e : b.entries)
         benchmark::DoNotOptimize(b.table->entry(e.match()));
   }
   countOps(st, before, kBatch);
}

TwiceNatAddrOnlyTableEntry builtEntry(U16 vrf, U32 dip, U32 sip,
                                      TwiceNatAddrOnlyBaseActionSpec::PtrConst action) {
   auto match = twiceNatAddrOnlyMatchSpecFactory();
   match->outerIpv4HdrDipIs(dip);
   match->outerIpv4HdrSipIs(sip);
   match->l3InfoVrfIdIs(vrf);
   TwiceNatAddrOnlyTableEntry entry(std::move(match));
   entry.actionIs(std::move(action));
   return entry;
}

void sdkLookupPd(benchmark::State& st) {
   Bed& b = bed(Backend::pd);
   Programmed p(b);
   auto& pd = b.pd();
   long before = heapAllocs();
   for (auto _ : st) {
      for (U32 h : p.handles) {
         BfPdTwiceNatAddrOnly::MatchSpec m{};
         BfPdTwiceNatAddrOnly::HitSpec a{};
         char name[BfPdTwiceNatAddrOnly::kActionNameSize] = {};
         U8 ttl = 0;
         if (pd.getEntry(kSession, b.dev, h, false, &m, name, &a, nullptr, &ttl) != 0) std::abort();
         if (std::strcmp(name, "p4_pd_tolvex_switch_twiceNatAddrOnlyHit") != 0) std::abort();
         auto hit = twiceNatAddrOnlyHitActionSpecFactory();
         hit->keyIdIs(a.action_keyId);
         hit->rwIdIs(a.action_rwId);
         hit->protIs(a.action_prot);
         hit->fragIs(a.action_frag);
         hit->nextHopIs(a.action_nextHop);
         benchmark::DoNotOptimize(
             builtEntry(m.l3InfoVrfId, m.outerIpv4HdrDip, m.outerIpv4HdrSip, std::move(hit)));
      }
   }
   countOps(st, before, kBatch);
}

void sdkLookupBfrt(benchmark::State& st) {
   Bed& b = bed(Backend::bfrt);
   Programmed p(b);
   auto& pd = b.pd();
   bfrt::TolvexBfRtTable const& table = *pd.bfRtTable;
   std::shared_ptr<bfrt::BfRtSession> session = pd.bfRtTableIntf->bfRtSessionGet();
   bfrt::BfRtTarget const target{static_cast<int32_t>(b.dev), kAllPipes};
   std::unique_ptr<bfrt::BfRtTableKey> key;
   std::unique_ptr<bfrt::BfRtTableData> data;
   if (table.keyAllocate(&key) != 0 || table.dataAllocate(&data) != 0) std::abort();
   auto field = [](auto const& obj, U32 id) {
      U64 v = 0;
      obj.getValue(id, &v);
      return v;
   };
   long before = heapAllocs();
   for (auto _ : st) {
      for (U32 h : p.handles) {
         table.keyReset(key.get());
         table.dataReset(data.get());
         if (table.tableEntryGet(*session, target, 0, h, key.get(), data.get()) != 0) std::abort();
         bfrt::bf_rt_id_t actionId = 0;
         data->actionIdGet(&actionId);
         if (actionId != pd.actionIdHit) std::abort();
         auto hit = twiceNatAddrOnlyHitActionSpecFactory();
         hit->keyIdIs(static_cast<U16>(field(*data, pd.hitKeyIdFieldId)));
         hit->rwIdIs(static_cast<U16>(field(*data, pd.hitRwIdFieldId)));
         hit->protIs(static_cast<U8>(field(*data, pd.hitProtFieldId)));
         hit->fragIs(static_cast<U8>(field(*data, pd.hitFragFieldId)));
         hit->nextHopIs(static_cast<U16>(field(*data, pd.hitNextHopFieldId)));
         benchmark::DoNotOptimize(builtEntry(static_cast<U16>(field(*key, pd.vrfKeyFieldId)),
                                             static_cast<U32>(field(*key, pd.dipKeyFieldId)),
                                             static_cast<U32>(field(*key, pd.sipKeyFieldId)),
                                             std::move(hit)));
      }
   }
   countOps(st, before, kBatch);
}

BENCHMARK(sdkLookupPd)->Repetitions(kRatioRepetitions);
BENCHMARK(sdkLookupBfrt)->Repetitions(kRatioRepetitions);
BENCHMARK_CAPTURE(libraryLookup, pd, Backend::pd)->Repetitions(kRatioRepetitions);
BENCHMARK_CAPTURE(libraryLookup, bfrt, Backend::bfrt)->Repetitions(kRatioRepetitions);

Ratio lookupPd{"look up by match (read back), PD", "libraryLookup/pd", "sdkLookupPd", 1.5};
Ratio lookupBfrt{"look up by match (read back), BfRt", "libraryLookup/bfrt", "sdkLookupBfrt", 1.5};

}  // namespace
