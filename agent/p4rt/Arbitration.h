#pragma once
// Who may write: the clients of the device's stream channels and their election ids, for the
// default role (the only one served). The client with the highest election id the device has
// seen is the primary; a client without an election id never is. Every change of the primary
// (a new one, one that steps down, one that goes) tells every client its standing: OK to the
// primary, ALREADY_EXISTS to a backup while there is a primary, NOT_FOUND while there is none;
// a client whose update changes nothing is told its own standing only.
//
// Threads: update() and leave() change the standing under the gate exclusively; a Write holds
// the gate shared for its whole run (writeGate()), so a change of primary waits for the write
// in progress, and no write of a former primary starts after it.
#include <map>
#include <optional>
#include <shared_mutex>
#include <string>
#include <vector>

#include "Zin/Types.h"
#include "agent/p4rt/RpcError.h"
#include "p4/v1/p4runtime.pb.h"

namespace TwiceNatP4rt {

struct ElectionId {
   U64 high = 0;
   U64 low = 0;
   auto operator<=>(ElectionId const&) const = default;
};
std::optional<ElectionId> electionOf(p4::v1::Uint128 const* id);  // null: unset
std::string electionText(std::optional<ElectionId> const& id);

class Arbitration {
 public:
   using ClientId = U64;
   struct Notice {
      ClientId to = 0;
      p4::v1::MasterArbitrationUpdate update;
   };
   struct Outcome {
      RpcError error;  // not OK: the stream ends with it, and the client is not (or no longer) one
      std::vector<Notice> notices;
   };

   Arbitration(U64 deviceId, std::size_t maxClients);

   // An arbitration update from the stream `client` (its first makes it a client).
   Outcome update(ClientId client, p4::v1::MasterArbitrationUpdate const& msg);
   // The stream of `client` ended.
   std::vector<Notice> leave(ClientId client);

   std::shared_mutex& gate() const { return gate_; }
   // Whether a request with these fields comes from the primary: NOT_FOUND for another device
   // or a named role, PERMISSION_DENIED for anyone but the primary. The caller holds the gate.
   RpcError mayWrite(U64 deviceId, std::string_view role, U64 roleId,
                     std::optional<ElectionId> election) const;
   U64 deviceId() const { return device_; }
   std::size_t clients() const;

 private:
   struct Client {
      std::optional<ElectionId> election;
   };
   RpcError roleRefusal(p4::v1::MasterArbitrationUpdate const& msg, bool first) const;
   bool electionHeld(ClientId except, std::optional<ElectionId> const& id) const;
   Notice noticeFor(ClientId to) const;
   std::vector<Notice> noticesForAll() const;

   U64 device_;
   std::size_t maxClients_;
   mutable std::shared_mutex gate_;
   std::map<ClientId, Client> clients_;
   std::optional<ElectionId> highest_;  // of every primary so far
   std::optional<ClientId> primary_;
};

}  // namespace TwiceNatP4rt
