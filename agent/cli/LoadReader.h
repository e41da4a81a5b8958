#pragma once
// The updates a file for `load` (or `diff`) asks for, in order, each with its line: from lines
// (LoadLine.h), or from a JSON object as `show --json` prints it, whose entries are programmed
// and whose default is set (or reset, when null).
#include <string>

#include "agent/cli/LoadSource.h"
#include "agent/core/AgentCore.h"

namespace TwiceNatCli {

class UpdateSink {
 public:
   virtual ~UpdateSink() = default;
   virtual void update(TwiceNatAgent::Update const& update, U64 line) = 0;
   // A line that asks for no update it can name: `why` says what is wrong.
   virtual void bad(U64 line, std::string const& why) = 0;
   // True once the sink wants no more (a load that failed as a whole).
   virtual bool stopped() const = 0;
};

// Reads `source` to its end (or until the sink stops). A JSON document that breaks off is one
// bad line, and the end of the reading.
void readUpdates(LoadSource& source, UpdateSink& sink);

}  // namespace TwiceNatCli
