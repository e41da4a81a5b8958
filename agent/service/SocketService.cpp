#include "agent/service/SocketService.h"

#include "agent/service/ReplyCodec.h"
#include "agent/service/RequestCodec.h"

namespace TwiceNatService {

namespace {

class ProtocolClient final : public LineService::Client {
 public:
   explicit ProtocolClient(Handler& handler) : handler_(handler), session_(handler) {}

   bool request(std::string_view line, std::string& out) override {
      Request q;
      try {
         q = parseRequest(line);
      } catch (ProtocolError const& e) {
         handler_.refusedOne();
         Reply r;
         r.status = Status{Code::invalidArgument, std::string("bad request: ") + e.what(), 0};
         encodeReply(Op::status, r, out);
         return false;
      }
      if (q.op == Op::show) {
         show_ = handler_.show(q);
         return more(out);
      }
      if (q.op == Op::clear) {
         clear_ = handler_.clear();
         return more(out);
      }
      encodeReply(q.op, handler_.handle(q, session_), out);
      return false;
   }

   bool more(std::string& out) override {
      if (clear_) {
         Reply r;
         if (!clear_->step(r)) return true;
         encodeReply(Op::clear, r, out);
         clear_.reset();
         return false;
      }
      if (!show_ || !show_->next(page_)) {
         show_.reset();
         return false;
      }
      encodePage(page_, out);
      if (page_.last) show_.reset();
      return show_ != nullptr;
   }

   bool holdsOthersBack() const override { return session_.batchOpen(); }

 private:
   Handler& handler_;
   Handler::Session session_;
   std::unique_ptr<Handler::ShowStream> show_;
   std::unique_ptr<Handler::ClearSteps> clear_;
   Page page_;
};

}  // namespace

std::unique_ptr<LineService::Client> SocketService::connected() {
   return std::make_unique<ProtocolClient>(handler_);
}

std::string SocketService::farewell(std::string const& why, bool badRequest) {
   Reply r;
   r.status = Status{badRequest ? Code::invalidArgument : Code::resourceExhausted,
                     (badRequest ? "bad request: " : "") + why, 0};
   std::string out;
   encodeReply(Op::status, r, out);
   return out;
}

}  // namespace TwiceNatService
