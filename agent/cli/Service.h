#pragma once
// What the agent does for one request over the agent it started. The same code answers a
// request that came over the socket and one a command makes in its own process, so both
// print the same.
#include <chrono>
#include <string>

#include "agent/cli/Commands.h"
#include "agent/cli/Protocol.h"

namespace TwiceNatCli {

class Service {
 public:
   Service(AgentStart& agent, std::string stateDir);
   // Never throws for what a request holds: a failure is the reply's status and text.
   Reply handle(Request const& request);
   // Parses one line, and the text that followed it, first; a line that is not a request gets
   // a refusal.
   Reply handleLine(std::string_view line, std::string_view text = {});
   bool stopAsked() const { return stopAsked_; }
   U64 served() const { return served_; }
   AgentStart& agent() const { return agent_; }

 private:
   Reply status() const;

   AgentStart& agent_;
   std::string stateDir_;
   std::chrono::steady_clock::time_point started_ = std::chrono::steady_clock::now();
   U64 served_ = 0;
   bool stopAsked_ = false;
};

// One batch of a load: every line checked in full, then programmed, until an SDK failure
// stops the batch. data: added, changed, bad (counts), and failedLine when it stopped; err:
// "PATH:LINE: why" for each line refused.
Reply loadBatch(TwiceNatAgent::AgentCore& core, Request const& request);

}  // namespace TwiceNatCli
