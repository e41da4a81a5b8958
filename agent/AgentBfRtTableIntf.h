#pragma once
// The agent's source of a table's BfRt session: it holds one session of the device for the
// table's whole life, so that the library may borrow it per operation.
#include <memory>

#include "BfTwiceNatAddrOnly/platform/BfRt.h"

namespace BfRt {

class AgentBfRtTableIntf : public BfRtTableIntf {
 public:
   using Ptr = Pemra::Ptr<AgentBfRtTableIntf>;
   using PtrConst = Pemra::Ptr<AgentBfRtTableIntf const>;

   // A new session from `info`; throws Zin::Exception when the device gives none.
   static Ptr agentBfRtTableIntfIs(bfrt::BfRtInfo const& info);

   std::shared_ptr<bfrt::BfRtSession> bfRtSessionGet() const override { return session_; }

   static Zin::TypeDescriptor const& type();
   Zin::TypeDescriptor const* fwkType() const override { return &type(); }

   ZIN_ALLOCATED(AgentBfRtTableIntf)

 protected:
   ~AgentBfRtTableIntf() override = default;

 private:
   explicit AgentBfRtTableIntf(std::shared_ptr<bfrt::BfRtSession> session)
       : session_(std::move(session)) {}

   std::shared_ptr<bfrt::BfRtSession> session_;
};

}  // namespace BfRt
