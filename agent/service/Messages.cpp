#include "agent/service/Messages.h"

#include <array>
#include <utility>

namespace TwiceNatService {

namespace {

constexpr std::array<std::pair<Op, std::string_view>, 17> kOps = {{
    {Op::status, "status"},
    {Op::stop, "stop"},
    {Op::chip, "chip"},
    {Op::get, "get"},
    {Op::show, "show"},
    {Op::clear, "clear"},
    {Op::insert, "insert"},
    {Op::modify, "modify"},
    {Op::program, "program"},
    {Op::remove, "delete"},
    {Op::defaultSet, "defaultSet"},
    {Op::defaultReset, "defaultReset"},
    {Op::apply, "apply"},
    {Op::begin, "begin"},
    {Op::part, "part"},
    {Op::commit, "commit"},
    {Op::rollback, "rollback"},
}};

constexpr std::array<std::pair<UpdateKind, Op>, 6> kUpdateOps = {{
    {UpdateKind::insert, Op::insert},
    {UpdateKind::modify, Op::modify},
    {UpdateKind::program, Op::program},
    {UpdateKind::remove, Op::remove},
    {UpdateKind::defaultSet, Op::defaultSet},
    {UpdateKind::defaultReset, Op::defaultReset},
}};

constexpr std::array<std::pair<BatchMode, std::string_view>, 3> kModes = {{
    {BatchMode::continueOnError, "continue"},
    {BatchMode::rollbackOnError, "rollback"},
    {BatchMode::dryRun, "dryRun"},
}};

}  // namespace

std::string_view opName(Op op) {
   for (auto const& [o, name] : kOps) {
      if (o == op) return name;
   }
   return "?";
}

std::optional<Op> opNamed(std::string_view name) {
   for (auto const& [o, n] : kOps) {
      if (n == name) return o;
   }
   return std::nullopt;
}

Op opOf(UpdateKind kind) {
   for (auto const& [k, o] : kUpdateOps) {
      if (k == kind) return o;
   }
   return Op::program;
}

std::optional<UpdateKind> updateKindOf(Op op) {
   for (auto const& [k, o] : kUpdateOps) {
      if (o == op) return k;
   }
   return std::nullopt;
}

std::string_view modeName(BatchMode mode) {
   for (auto const& [m, name] : kModes) {
      if (m == mode) return name;
   }
   return "?";
}

std::optional<BatchMode> modeNamed(std::string_view name) {
   for (auto const& [m, n] : kModes) {
      if (n == name) return m;
   }
   return std::nullopt;
}

std::optional<Code> codeNamed(std::string_view name) {
   for (Code c : {Code::ok, Code::alreadyExists, Code::notFound, Code::invalidArgument,
                  Code::resourceExhausted, Code::unavailable, Code::unimplemented, Code::aborted,
                  Code::internal}) {
      if (name == codeName(c)) return c;
   }
   return std::nullopt;
}

}  // namespace TwiceNatService
