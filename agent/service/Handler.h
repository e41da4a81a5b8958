#pragma once
// What the agent does for each request, over its core. The socket server hands it the requests
// of every client; a command with no agent serving hands it its own, so both behave the same.
//
// Every call takes the core's lock for its own work only: a request holds it once, a show once
// per page, and never while a client's bytes are read or written.
#include <chrono>
#include <functional>
#include <memory>
#include <string>

#include "agent/service/Messages.h"

namespace TwiceNatService {

class Handler {
 public:
   struct Facts {
      std::string stateDir;
      // The chip's figures as a JSON object; UNIMPLEMENTED when not given.
      std::function<std::string()> chipJson;
      std::string version;  // the agent's release, for status
   };
   Handler(AgentCore& core, Facts facts);

   // One client's state: the batch it has open (begin ... commit or rollback). A batch still
   // open when the session goes is rolled back.
   class Session {
    public:
      explicit Session(Handler& handler) : handler_(handler) {}
      ~Session();
      Session(Session const&) = delete;
      Session& operator=(Session const&) = delete;
      bool batchOpen() const { return transaction_ != nullptr; }
      // Rolls an open batch back now; false when none was open.
      bool abandon();

    private:
      friend class Handler;
      Handler& handler_;
      std::unique_ptr<AgentCore::Transaction> transaction_;
      BatchMode mode_ = BatchMode::continueOnError;
   };

   // A show's pages, in key order. Each next() takes the lock for one page.
   class ShowStream {
    public:
      ShowStream(Handler& handler, Request const& request);
      // Fills `page`; false once the last page was given.
      bool next(Page& page);

    private:
      Handler& handler_;
      ShowFilter filter_;
      std::size_t pageSize_;
      U64 cursor_ = 0;
      U64 matching_ = 0;
      bool done_ = false;
      std::vector<EntryRow> rows_;
   };

   // A clear's work, a page of removals at a time, the default's reset last.
   class ClearSteps {
    public:
      explicit ClearSteps(Handler& handler) : handler_(handler) {}
      // Takes the lock for one page; true once done, with the reply in `reply`.
      bool step(Reply& reply);

    private:
      Handler& handler_;
      U64 cursor_ = 0;
      U64 removed_ = 0;
      std::vector<EntryRow> rows_;
   };

   // Any request but show and clear. Never throws for what a request holds: a failure is the
   // reply's status.
   Reply handle(Request const& request, Session& session);
   std::unique_ptr<ShowStream> show(Request const& request);
   std::unique_ptr<ClearSteps> clear();

   // Counted by the caller for requests it refused before they reached here.
   void refusedOne() { ++served_; }
   U64 served() const { return served_; }
   bool stopAsked() const { return stopAsked_; }
   void clientsAre(U64 n) { clients_ = n; }
   AgentCore& core() const { return core_; }

 private:
   Reply handleCounted(Request const& request, Session& session);
   Reply handleLocked(Request const& request, Session& session);
   Reply batchStep(Request const& request, Session& session);

   AgentCore& core_;
   Facts facts_;
   std::chrono::steady_clock::time_point started_ = std::chrono::steady_clock::now();
   U64 served_ = 0;
   U64 clients_ = 0;
   bool stopAsked_ = false;
};

// A batch's result in the reply's short form.
BatchReply batchReplyOf(BatchResult const& result);

}  // namespace TwiceNatService
