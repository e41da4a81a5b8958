// Speed of the agent's socket service: a client in this process, the server on a thread of its
// own (the only one that touches the table). A set's round trip, batches of updates applied,
// and a streamed read of the whole table, each through the socket and the protocol's JSON.
#include <benchmark/benchmark.h>
#include <pthread.h>
#include <stdlib.h>
#include <time.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "Summary.h"
#include "agent/KeyTable.h"
#include "agent/cli/Commands.h"
#include "agent/service/Client.h"
#include "agent/service/Server.h"
#include "agent/service/SocketService.h"
#include "chip/Chip.h"

namespace {

using namespace TwiceNatService;
using namespace std::chrono_literals;

constexpr U32 kCapacity = 1 << 17;
constexpr U32 kReadEntries = 100000;

// A chip and key table in a temporary folder, an agent serving it on a thread, and a client.
struct ServedFolder {
   ServedFolder() {
      std::string pattern =
          (std::filesystem::temp_directory_path() / "serve-bench-XXXXXX").string();
      if (!::mkdtemp(pattern.data())) std::abort();
      state.dir = pattern;
      chip::Profile p;
      p.capacity = kCapacity;
      chip::Chip::create(state.chipPath(), p);
      TwiceNatAgent::KeyTable::create(state.keyTablePath(), kCapacity + chip::kMaxPipes + 1);
      agent = std::make_unique<TwiceNatCli::AgentStart>(state);
      handler = std::make_unique<Handler>(*agent->core, Handler::Facts{state.dir, {}, "0.1.0"});
      service = std::make_unique<SocketService>(*handler);
      server = std::make_unique<Server>(*service, state.socketPath());
      thread = std::thread([this] { server->run(); });
      client = Client::connect(state.socketPath(), 10s);
      if (!client) std::abort();
   }
   // CPU seconds the agent's thread has used: on a busy machine the rate per CPU second says
   // what the agent can do, where the elapsed time says how much of the machine it got.
   double agentCpu() {
      clockid_t clock;
      timespec t{};
      if (pthread_getcpuclockid(thread.native_handle(), &clock) != 0) return 0;
      clock_gettime(clock, &t);
      return double(t.tv_sec) + double(t.tv_nsec) / 1e9;
   }
   ~ServedFolder() {
      client.reset();
      server->stopIs();
      thread.join();
      server.reset();
      service.reset();
      handler.reset();
      agent.reset();
      std::error_code ec;
      std::filesystem::remove_all(state.dir, ec);
   }
   TwiceNatCli::StateDir state;
   std::unique_ptr<TwiceNatCli::AgentStart> agent;
   std::unique_ptr<Handler> handler;
   std::unique_ptr<SocketService> service;
   std::unique_ptr<Server> server;
   std::thread thread;
   std::unique_ptr<Client> client;
};

EntrySpec entryOf(U32 n, U16 target) {
   return {{0x0A000000u + n, 0xC0A80001u, U16(n % 16), true},
           {n % 2 ? ActionKind::ecmp : ActionKind::hit, U16(n), 2, 6, 0, target}};
}

// One set request (a modify of one of a few entries, flipping its next hop) per iteration.
void serveSetRoundTrip(benchmark::State& state) {
   ServedFolder f;
   Request q{Op::program};
   std::vector<double> took;
   took.reserve(1 << 20);
   U32 i = 0;
   for (auto _ : state) {
      q.entry = entryOf(i % 8, U16(i));
      ++i;
      auto const t0 = std::chrono::steady_clock::now();
      Reply const r = f.client->call(q);
      took.push_back(
          std::chrono::duration<double, std::micro>(std::chrono::steady_clock::now() - t0).count());
      if (!r.status.ok()) state.SkipWithError(r.status.message.c_str());
   }
   std::nth_element(took.begin(), took.begin() + took.size() / 2, took.end());
   double const median = took.empty() ? 0 : took[took.size() / 2];
   state.counters["median_us"] = median;
   bench::figureIs("set round trip through the socket (median)", median, "us", 50, true);
}
BENCHMARK(serveSetRoundTrip)->Unit(benchmark::kMicrosecond)->MinTime(1.0)->UseRealTime();

// Batches of the most updates a request may hold, two in flight as a load keeps them: adds of
// new keys first, then modifies of the same keys.
void serveBatchApply(benchmark::State& state) {
   ServedFolder f;
   std::vector<Request> batches;
   for (U32 b = 0; b < 8; ++b) {
      Request q{Op::apply};
      for (U32 i = 0; i < kMaxBatchUpdates; ++i)
         q.updates.push_back(
             {UpdateKind::program, entryOf((b % 4) * kMaxBatchUpdates + i, U16(b))});
      batches.push_back(std::move(q));
   }
   std::size_t i = 0;
   auto const t0 = std::chrono::steady_clock::now();
   double const cpu0 = f.agentCpu();
   for (auto _ : state) {
      f.client->submit(batches[i++ % batches.size()]);
      if (f.client->inFlight() < 2) continue;
      Reply const r = f.client->collect();
      if (!r.batch.failures.empty())
         state.SkipWithError(r.batch.failures[0].status.message.c_str());
   }
   while (f.client->inFlight())
      f.client->collect();
   double const seconds =
       std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
   double const updates = double(state.iterations() * kMaxBatchUpdates);
   state.SetItemsProcessed(state.iterations() * kMaxBatchUpdates);
   bench::figureIs("batch apply through the socket", updates / seconds, "updates/s", 500000, false);
   bench::figureIs("batch apply through the socket, per agent CPU second",
                   updates / (f.agentCpu() - cpu0), "updates/s", 500000, false);
}
BENCHMARK(serveBatchApply)->Unit(benchmark::kMillisecond)->MinTime(2.0)->UseRealTime();

// The whole table of 100k entries read in pages, each iteration one show.
void serveStreamedRead(benchmark::State& state) {
   ServedFolder f;
   Request fill{Op::apply};
   for (U32 n = 0; n < kReadEntries; ++n) {
      fill.updates.push_back({UpdateKind::program, entryOf(n, 1)});
      if (fill.updates.size() == kMaxBatchUpdates || n + 1 == kReadEntries) {
         f.client->call(fill);
         fill.updates.clear();
      }
   }
   Page page;
   auto const t0 = std::chrono::steady_clock::now();
   double const cpu0 = f.agentCpu();
   for (auto _ : state) {
      f.client->submit(Request{Op::show});
      U64 rows = 0;
      for (bool more = true; more;) {
         more = f.client->page(page);
         rows += page.rows.size();
      }
      if (rows != kReadEntries) state.SkipWithError("a read that missed entries");
   }
   double const seconds =
       std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
   double const entries = double(state.iterations() * kReadEntries);
   state.SetItemsProcessed(state.iterations() * kReadEntries);
   bench::figureIs("streamed read through the socket, 100k entries", entries / seconds, "entries/s",
                   1e6, false);
   bench::figureIs("streamed read through the socket, per agent CPU second",
                   entries / (f.agentCpu() - cpu0), "entries/s", 1e6, false);
}
BENCHMARK(serveStreamedRead)->Unit(benchmark::kMillisecond)->MinTime(2.0)->UseRealTime();

}  // namespace
