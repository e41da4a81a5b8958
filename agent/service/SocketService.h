#pragma once
// The protocol's side of the socket server: each line parsed into a request, handed to the
// handler, and its reply (or a show's pages, one at a time) written as JSON.
#include "agent/service/Handler.h"
#include "agent/service/LineService.h"

namespace TwiceNatService {

class SocketService final : public LineService {
 public:
   explicit SocketService(Handler& handler) : handler_(handler) {}

   std::unique_ptr<Client> connected() override;
   std::string farewell(std::string const& why, bool badRequest) override;
   void clientsAre(std::size_t count) override { handler_.clientsAre(count); }
   bool stopAsked() const override { return handler_.stopAsked(); }

 private:
   Handler& handler_;
};

}  // namespace TwiceNatService
