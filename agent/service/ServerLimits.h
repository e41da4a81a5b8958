#pragma once
// The bounds the agent's socket server keeps (docs/protocol.md states them for clients).
#include <chrono>
#include <cstddef>
#include <cstdio>
#include <string>

#include "agent/service/RequestCodec.h"

namespace TwiceNatService {

// "10 s", "0.3 s": a bound as messages state it.
inline std::string secondsText(std::chrono::milliseconds d) {
   char t[32];
   std::snprintf(t, sizeof t, "%g s", double(d.count()) / 1000);
   return t;
}

struct ServerLimits {
   // Clients connected at once; past it new ones wait in the listen queue until one leaves.
   std::size_t maxClients = 4096;
   // A request line longer than this without its newline is refused and the client dropped.
   std::size_t maxRequestBytes = kMaxRequestBytes;
   // Pending reply bytes above which a client's next request is not read and the next page of
   // its show not made: a client's memory is this and one reply.
   std::size_t outputHigh = std::size_t(256) << 10;
   // The window of every deadline: a request must arrive whole within it of its first byte; a
   // client with reply bytes pending must take at least minTakenPerWindow of them in each
   // window (or all there are); a client holding a batch open must send within it.
   std::chrono::milliseconds window{10000};
   std::size_t minTakenPerWindow = std::size_t(640) << 10;  // 64 KiB/s over 10 s
};

}  // namespace TwiceNatService
