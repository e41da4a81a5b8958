#include "agent/p4rt/Arbitration.h"

#include <cstdio>
#include <mutex>

namespace TwiceNatP4rt {

std::optional<ElectionId> electionOf(p4::v1::Uint128 const* id) {
   if (!id) return std::nullopt;
   return ElectionId{id->high(), id->low()};
}

std::string electionText(std::optional<ElectionId> const& id) {
   if (!id) return "none";
   if (id->high == 0) return std::to_string(id->low);
   char text[48];
   std::snprintf(text, sizeof text, "0x%llx%016llx", (unsigned long long)id->high,
                 (unsigned long long)id->low);
   return text;
}

Arbitration::Arbitration(U64 deviceId, std::size_t maxClients)
    : device_(deviceId), maxClients_(maxClients) {}

std::size_t Arbitration::clients() const {
   std::shared_lock lock(gate_);
   return clients_.size();
}

RpcError Arbitration::roleRefusal(p4::v1::MasterArbitrationUpdate const& msg, bool first) const {
   if (!msg.has_role()) return {};
   p4::v1::Role const& role = msg.role();
   if (!role.name().empty() || role.id() != 0) {
      std::string const name =
          role.name().empty() ? "id " + std::to_string(role.id()) : "'" + role.name() + "'";
      return refused(first ? Rpc::NOT_FOUND : Rpc::FAILED_PRECONDITION,
                     "only the default role is served here, not role " + name);
   }
   if (role.has_config()) {
      return refused(Rpc::INVALID_ARGUMENT, "the default role has full access and takes no config");
   }
   return {};
}

bool Arbitration::electionHeld(ClientId except, std::optional<ElectionId> const& id) const {
   if (!id) return false;
   for (auto const& [c, client] : clients_) {
      if (c != except && client.election == id) return true;
   }
   return false;
}

Arbitration::Outcome Arbitration::update(ClientId c, p4::v1::MasterArbitrationUpdate const& msg) {
   std::unique_lock lock(gate_);
   Outcome out;
   bool const first = !clients_.count(c);
   std::optional<ElectionId> const election =
       electionOf(msg.has_election_id() ? &msg.election_id() : nullptr);
   if (msg.device_id() != device_) {
      out.error = refused(first ? Rpc::NOT_FOUND : Rpc::FAILED_PRECONDITION,
                          "no device " + std::to_string(msg.device_id()) + " here: this agent " +
                              "serves device " + std::to_string(device_));
   } else if (RpcError role = roleRefusal(msg, first); !role.ok()) {
      out.error = role;
   } else if (electionHeld(c, election)) {
      out.error = refused(Rpc::INVALID_ARGUMENT,
                          "election id " + electionText(election) + " is another client's");
   } else if (first && clients_.size() >= maxClients_) {
      out.error =
          refused(Rpc::RESOURCE_EXHAUSTED, "the device has " + std::to_string(maxClients_) +
                                               " stream channels open, as many as it serves");
   }
   if (!out.error.ok()) return out;

   clients_[c].election = election;
   bool const wasPrimary = primary_ == c;
   if (election && (!highest_ || *election >= *highest_)) {
      primary_ = c;
      highest_ = election;
      out.notices = noticesForAll();
   } else if (wasPrimary) {
      primary_.reset();  // stepped down below the highest id seen: no primary now
      out.notices = noticesForAll();
   } else {
      out.notices.push_back(noticeFor(c));
   }
   return out;
}

std::vector<Arbitration::Notice> Arbitration::leave(ClientId c) {
   std::unique_lock lock(gate_);
   if (!clients_.erase(c)) return {};
   if (primary_ != c) return {};
   primary_.reset();
   return noticesForAll();
}

Arbitration::Notice Arbitration::noticeFor(ClientId to) const {
   Notice n;
   n.to = to;
   n.update.set_device_id(device_);
   if (highest_) {
      n.update.mutable_election_id()->set_high(highest_->high);
      n.update.mutable_election_id()->set_low(highest_->low);
   }
   google::rpc::Status* s = n.update.mutable_status();
   if (primary_ == to) {
      s->set_code(int(Rpc::OK));
   } else if (primary_) {
      s->set_code(int(Rpc::ALREADY_EXISTS));
      s->set_message("a backup: the primary holds election id " + electionText(highest_));
   } else {
      s->set_code(int(Rpc::NOT_FOUND));
      s->set_message("a backup: there is no primary (the highest election id seen is " +
                     electionText(highest_) + ")");
   }
   return n;
}

std::vector<Arbitration::Notice> Arbitration::noticesForAll() const {
   std::vector<Notice> all;
   for (auto const& [c, client] : clients_)
      all.push_back(noticeFor(c));
   return all;
}

RpcError Arbitration::mayWrite(U64 deviceId, std::string_view role, U64 roleId,
                               std::optional<ElectionId> election) const {
   if (deviceId != device_) {
      return refused(Rpc::NOT_FOUND, "no device " + std::to_string(deviceId) +
                                         " here: this agent serves device " +
                                         std::to_string(device_));
   }
   if (!role.empty() || roleId != 0) {
      return refused(Rpc::NOT_FOUND, "only the default role is served here");
   }
   if (!primary_) {
      return refused(Rpc::PERMISSION_DENIED,
                     "no client is the primary: open a stream channel with the highest "
                     "election id first");
   }
   std::optional<ElectionId> const& held = clients_.at(*primary_).election;
   if (election != held) {
      return refused(Rpc::PERMISSION_DENIED, "election id " + electionText(election) +
                                                 " is not the primary's (" + electionText(held) +
                                                 ")");
   }
   return {};
}

}  // namespace TwiceNatP4rt
