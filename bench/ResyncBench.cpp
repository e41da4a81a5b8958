// Cost of the resync at a table's creation, against a bare read of the same entries: a walk of
// the key table's records that reads each entry from the chip through the same back end's SDK
// calls and keeps nothing. Both start from a key table opened afresh, as at an agent start; the
// open itself (which checks every slot) is left out of both. Library and bare take turns
// (pairedRounds) at 1k, 100k and 1M records.
//
// Two states per size: entries programmed in order, so that the records' handles rise with their
// keys, and the same after churn (every entry deleted and added again, in a random order), so
// that the walk in key order reads the chip's handles in a random order.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdlib>
#include <limits>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "AgentBed.h"
#include "BfTwiceNatAddrOnly/platform/BfPdTwiceNatAddrOnlyIntf.h"
#include "Paired.h"
#include "Summary.h"

namespace {

using namespace BfTwiceNatAddrOnly;

constexpr U8 kDevice = 20;
constexpr U32 kSizes[] = {1'000, 100'000, 1'000'000};

// A chip and a key table holding `n` programmed entries; the key table is reopened by every
// pass, the chip stays attached.
struct ProgrammedState {
   ProgrammedState(bool bfrt, U32 n, bool churned)
       : folder("resync-bench"), chip(kDevice, bfrt, n + 16) {
      keyTablePath = folder.path + "/keys";
      TwiceNatAgent::KeyTable::create(keyTablePath, n + chip::kMaxPipes + 1);
      bench::AgentServices services(keyTablePath);
      auto table = bench::tableOf(&services, sdk, kDevice);
      bool const vrf = table->supportedOptionalFields() != 0;
      std::vector<TwiceNatAddrOnlyTableEntry> entries;
      for (U32 i = 0; i < n; ++i) {
         entries.push_back(bench::benchEntry(i, vrf));
         if (!bench::programOne(*table, &services, entries.back())) std::abort();
      }
      if (!churned) return;
      // A removed entry's key is the lowest free one, so the entry added again gets it back,
      // with a new handle from the chip.
      std::vector<U32> order(n);
      for (U32 i = 0; i < n; ++i)
         order[i] = i;
      std::shuffle(order.begin(), order.end(), std::mt19937(3));
      for (U32 i : order) {
         table->entryDel(entries[i].match());
         services.keys->release(entries[i].match().ptr());
         services.statuses->statusDel(entries[i].match().ptr());
         if (!bench::programOne(*table, &services, entries[i])) std::abort();
      }
   }
   bench::ScratchFolder folder;
   bench::SdkHandle sdk;
   bench::AttachedChip chip;
   std::string keyTablePath;
};

// One state at a time: a 1M state is large (the chip's slots and indexes, the key table). The last
// one is dropped at exit ahead of the SDK's device table (the release is registered after the
// first state attached its chip), so that its chip detaches from a table that still exists.
struct CurrentState {
   std::unique_ptr<ProgrammedState> state;
   bool bfrt = false;
   U32 n = 0;
   bool churned = false;
};
CurrentState* current = nullptr;

void releaseState() {
   delete current;
   current = nullptr;
}

ProgrammedState& stateFor(bool bfrt, U32 n, bool churned) {
   if (current && current->bfrt == bfrt && current->n == n && current->churned == churned) {
      return *current->state;
   }
   bool const first = !current;
   releaseState();
   current =
       new CurrentState{std::make_unique<ProgrammedState>(bfrt, n, churned), bfrt, n, churned};
   if (first) std::atexit(releaseState);
   return *current->state;
}

std::string sizeText(U32 n) {
   return n >= 1'000'000 ? std::to_string(n / 1'000'000) + "M" : std::to_string(n / 1000) + "k";
}

// Reads every recorded entry once, through PD or BfRt, and keeps nothing; the entries read.
class BareRead {
 public:
   BareRead(ProgrammedState& s, bool bfrt)
       : pd_(new BfPdTwiceNatAddrOnly::BfPdTwiceNatAddrOnlyIntf(kDevice, bench::kSdkLib, s.sdk.dl,
                                                                bench::kSessionId)),
         bfrt_(bfrt) {
      if (!bfrt) return;
      session_ = pd_->bfRtTableIntf->bfRtSessionGet();
      if (pd_->bfRtTable->keyAllocate(&key_) != 0 || pd_->bfRtTable->dataAllocate(&data_) != 0) {
         std::abort();
      }
   }
   U32 walk(Drosk::DroskMapBase& map) {
      Drosk::MbbPostcodef::EntryConfig record(0, 0, 0, 0, 0);
      Drosk::IterHint hint;
      U32 read = 0;
      U64 sum = 0;
      for (bool found = map.entryFirst(record, hint); found;
           found = map.entryNext(record.key, record, hint)) {
         U64 value = 0;
         if (bfrt_ ? readBfrt(record.sdkEntryHandle, value) : readPd(record.sdkEntryHandle, value))
            ++read;
         sum += value;
      }
      benchmark::DoNotOptimize(sum);
      return read;
   }

 private:
   bool readPd(U32 handle, U64& sum) const {
      BfPdTwiceNatAddrOnly::MatchSpec m{};
      BfPdTwiceNatAddrOnly::HitSpec a{};
      char action[BfPdTwiceNatAddrOnly::kActionNameSize];
      U8 ttl = 0;
      bool const found = pd_->getEntry(bench::kSessionId, kDevice, handle, false, &m, action, &a,
                                       nullptr, &ttl) == 0;
      sum += m.outerIpv4HdrDip + m.outerIpv4HdrSip + m.l3InfoVrfId + a.action_keyId;
      return found;
   }
   // Every key field and every parameter of the entry's action, as a readback takes them.
   bool readBfrt(U32 handle, U64& sum) {
      auto const& t = *pd_->bfRtTable;
      bfrt::BfRtTarget const target{kDevice, 0xFFFF};
      if (t.keyReset(key_.get()) != 0 || t.dataReset(data_.get()) != 0 ||
          t.tableEntryGet(*session_, target, 0, handle, key_.get(), data_.get()) != 0) {
         return false;
      }
      bfrt::bf_rt_id_t action = 0;
      data_->actionIdGet(&action);
      U64 v = 0;
      for (U32 id : {pd_->vrfKeyFieldId, pd_->dipKeyFieldId, pd_->sipKeyFieldId}) {
         key_->getValue(id, &v);
         sum += v;
      }
      bool const hit = action == pd_->actionIdHit;
      U32 const params[] = {hit ? pd_->hitKeyIdFieldId : pd_->hitEcmpKeyIdFieldId,
                            hit ? pd_->hitRwIdFieldId : pd_->hitEcmpRwIdFieldId,
                            hit ? pd_->hitProtFieldId : pd_->hitEcmpProtFieldId,
                            hit ? pd_->hitFragFieldId : pd_->hitEcmpFragFieldId,
                            hit ? pd_->hitNextHopFieldId : pd_->hitEcmpEcmpGroupFieldId};
      for (U32 id : params) {
         data_->getValue(id, &v);
         sum += v;
      }
      return true;
   }

   BfPdTwiceNatAddrOnly::BfPdTwiceNatAddrOnlyIntf::Ptr pd_;
   bool bfrt_;
   std::shared_ptr<bfrt::BfRtSession> session_;
   std::unique_ptr<bfrt::BfRtTableKey> key_;
   std::unique_ptr<bfrt::BfRtTableData> data_;
};

void resync(benchmark::State& st, bool bfrt, U32 n, bool churned) {
   ProgrammedState& s = stateFor(bfrt, n, churned);
   BareRead bareRead(s, bfrt);
   bench::PairedNs ns{};
   bool whole = true;
   for (auto _ : st) {
      ns = bench::pairedRounds(
          n >= 1'000'000 ? 3
          : n >= 100'000 ? 7
                         : 41,
          n,
          [&] {
             bench::AgentServices services(s.keyTablePath);
             double const t0 = bench::cpuNs();
             auto table = bench::tableOf(&services, s.sdk, kDevice);
             services.walked();
             double const t1 = bench::cpuNs();
             whole = whole && table->helper()->sdkHandles()->entries() == n &&
                     services.keys->matches() == n && services.index.size() == n;
             table = nullptr;  // drops n match specs: not part of the resync
             return t1 - t0;
          },
          [&] {
             bench::AgentServices services(s.keyTablePath);
             double const t0 = bench::cpuNs();
             U32 const read = bareRead.walk(services.keys->mbbDroskTableConfig()->map());
             double const t1 = bench::cpuNs();
             whole = whole && read == n;
             return t1 - t0;
          });
   }
   if (!whole) {
      st.SkipWithError("a resync or bare read did not find every entry");
      return;
   }
   char note[96];
   std::snprintf(note, sizeof note, "(%.1f / %.1f ns per entry)", ns.library, ns.bare);
   bench::figureIs(std::string("resync over bare read, ") + (bfrt ? "BfRt" : "PD") + ", " +
                       sizeText(n) + (churned ? ", churned" : ", in order"),
                   ns.library / ns.bare, "x",
                   n >= 1'000'000 ? 1.5 : std::numeric_limits<double>::quiet_NaN(), true, note);
   st.counters["library_ns"] = ns.library;
   st.counters["bare_ns"] = ns.bare;
}

int const registered = [] {
   for (U32 n : kSizes) {
      for (bool bfrt : {false, true}) {
         for (bool churned : {false, true}) {
            std::string const name = std::string("resync/") + (bfrt ? "bfrt/" : "pd/") +
                                     std::to_string(n) + (churned ? "/churned" : "/inOrder");
            benchmark::RegisterBenchmark(
                name.c_str(),
                [bfrt, n, churned](benchmark::State& st) { resync(st, bfrt, n, churned); })
                ->Iterations(1)
                ->Unit(benchmark::kMillisecond);
         }
      }
   }
   return 0;
}();

}  // namespace
