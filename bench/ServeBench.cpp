// Speed of the agent's socket: one set request's round trip from a client in this process to
// a server on a thread of its own (the only thread that touches the table), and set requests
// in load batches per second.
#include <benchmark/benchmark.h>
#include <stdlib.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "agent/KeyTable.h"
#include "agent/cli/Client.h"
#include "agent/cli/Commands.h"
#include "agent/cli/Server.h"
#include "chip/Chip.h"

namespace {

using namespace TwiceNatCli;

constexpr U32 kCapacity = 1 << 16;
constexpr int kBatchLines = 2000;

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
      agent = std::make_unique<AgentStart>(state);
      service = std::make_unique<Service>(*agent, state.dir);
      server = std::make_unique<Server>(*service, state.socketPath());
      thread = std::thread([this] { server->run(); });
      client = Client::connect(state.socketPath());
      if (!client) std::abort();
   }
   ~ServedFolder() {
      client.reset();
      server->stopIs();
      thread.join();
      server.reset();
      service.reset();
      agent.reset();
      std::error_code ec;
      std::filesystem::remove_all(state.dir, ec);
   }
   StateDir state;
   std::unique_ptr<AgentStart> agent;
   std::unique_ptr<Service> service;
   std::unique_ptr<Server> server;
   std::thread thread;
   std::unique_ptr<Client> client;
};

std::string dotted4(U32 a) {
   return std::to_string(a >> 24) + "." + std::to_string(a >> 16 & 255) + "." +
          std::to_string(a >> 8 & 255) + "." + std::to_string(a & 255);
}

// One set request (a modify of one of a few entries, flipping its next hop) per iteration;
// the median round trip is reported as median_us.
void serveSetRoundTrip(benchmark::State& state) {
   ServedFolder f;
   std::vector<Request> requests;
   for (int i = 0; i < 16; ++i) {
      Request r;
      r.cmd = "set";
      r.args = {"--dst",      dotted4(0x0A000000u + U32(i % 8)),
                "--src",      "192.168.0.1",
                "--action",   "hit",
                "--next-hop", std::to_string(i)};
      requests.push_back(r);
   }
   std::vector<double> took;
   took.reserve(1 << 20);
   std::size_t i = 0;
   for (auto _ : state) {
      auto const t0 = std::chrono::steady_clock::now();
      Reply const r = f.client->call(requests[i++ % requests.size()]);
      took.push_back(
          std::chrono::duration<double, std::micro>(std::chrono::steady_clock::now() - t0).count());
      if (r.status != 0) state.SkipWithError(r.err.c_str());
   }
   std::nth_element(took.begin(), took.begin() + took.size() / 2, took.end());
   state.counters["median_us"] = took.empty() ? 0 : took[took.size() / 2];
}
BENCHMARK(serveSetRoundTrip)->Unit(benchmark::kMicrosecond)->MinTime(1.0)->UseRealTime();

// Load batches of 2000 set lines over the socket: adds first, then modifies of the same keys.
void serveBatchedSets(benchmark::State& state) {
   ServedFolder f;
   std::vector<Request> batches;
   for (int b = 0; b < 8; ++b) {
      Request r;
      r.cmd = "load";
      r.path = "bench";
      r.firstLine = U64(b) * kBatchLines + 1;
      for (int i = 0; i < kBatchLines; ++i) {
         U32 const n = U32(b % 4) * kBatchLines + U32(i);
         r.text +=
             dotted4(0x0A000000u + n) + " 192.168.0.1 - hit 1 2 6 0 " + std::to_string(b) + "\n";
      }
      batches.push_back(std::move(r));
   }
   std::size_t i = 0;
   for (auto _ : state) {
      Reply const r = f.client->call(batches[i++ % batches.size()]);
      if (r.status != 0) state.SkipWithError(r.err.c_str());
   }
   state.SetItemsProcessed(state.iterations() * kBatchLines);
}
BENCHMARK(serveBatchedSets)->Unit(benchmark::kMillisecond)->MinTime(1.0)->UseRealTime();

}  // namespace
