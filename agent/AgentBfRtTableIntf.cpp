#include "agent/AgentBfRtTableIntf.h"

#include "Zin/Exception.h"

namespace BfRt {

AgentBfRtTableIntf::Ptr AgentBfRtTableIntf::agentBfRtTableIntfIs(bfrt::BfRtInfo const& info) {
   std::shared_ptr<bfrt::BfRtSession> session = info.sessionCreate();
   if (!session) throw Zin::Exception("BfRt session could not be created");
   return Ptr(new AgentBfRtTableIntf(std::move(session)));
}

Zin::TypeDescriptor const& AgentBfRtTableIntf::type() {
   static Zin::TypeDescriptor* d = new Zin::TypeDescriptor(
       "BfRt::AgentBfRtTableIntf", Zin::TypeDescriptor::Kind::cls, &BfRtTableIntf::type());
   return *d;
}

}  // namespace BfRt
