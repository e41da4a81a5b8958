#include "agent/cli/SdkFailure.h"

#include <ostream>

#include "agent/KeyTable.h"
#include "agent/cli/InputError.h"
#include "chip/ChipException.h"

namespace TwiceNatCli {

namespace {
constexpr char kRepairs[] = " ('twicenat chip repair' repairs it)";
}  // namespace

std::optional<std::string> sdkFailureText(std::exception_ptr e) {
   TwiceNatAgent::Status const s = TwiceNatAgent::statusOf(e);
   if (s.sdkStatus == 0) return std::nullopt;
   return s.message;
}

bool refusedInput(TwiceNatAgent::Status const& status) {
   using TwiceNatAgent::Code;
   return status.code == Code::invalidArgument || status.code == Code::notFound ||
          (status.code == Code::alreadyExists && status.sdkStatus == 0);
}

void check(TwiceNatAgent::Status const& status) {
   if (status.ok()) return;
   if (refusedInput(status)) throw InputError(status.message);
   throw CoreFailure(status);
}

int reportFailure(std::exception_ptr e, std::ostream& err) {
   if (auto sdk = sdkFailureText(e)) {
      err << "twicenat: SDK failure: " << *sdk << "\n";
      return kExitSdkFailure;
   }
   try {
      std::rethrow_exception(e);
   } catch (CoreFailure const& x) {
      err << "twicenat: " << (x.status.sdkStatus ? "SDK failure: " : "") << x.what() << "\n";
      return kExitSdkFailure;
   } catch (InputError const& x) {
      err << "twicenat: " << x.what() << "\n";
      return kExitBadInput;
   } catch (chip::ChipStateRefused const& x) {
      // A state file a start refuses is bad input: the one line names the file and why.
      err << "twicenat: " << x.what() << (x.repairable() ? kRepairs : "") << "\n";
      return kExitBadInput;
   } catch (TwiceNatAgent::KeyTableRefused const& x) {
      err << "twicenat: " << x.what() << (x.replaceable() ? kRepairs : "") << "\n";
      return kExitBadInput;
   } catch (std::exception const& x) {
      err << "twicenat: " << x.what() << "\n";
   } catch (...) {
      err << "twicenat: unknown failure\n";
   }
   return kExitSdkFailure;
}

}  // namespace TwiceNatCli
