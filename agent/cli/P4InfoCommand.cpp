// p4info: the P4Info that 'serve --p4rt' gives P4Runtime clients for this chip.
#include <google/protobuf/text_format.h>
#include <google/protobuf/util/json_util.h>

#include <iostream>
#include <nlohmann/json.hpp>

#include "agent/cli/Commands.h"
#include "agent/cli/Format.h"
#include "agent/cli/InputError.h"
#include "agent/cli/Link.h"
#include "agent/p4rt/Pipeline.h"

namespace TwiceNatCli {

namespace {

int p4info(ParsedArgs const& args, GlobalOptions const& global) {
   // The chip's profile decides the P4Info: whether the VRF key field exists, and the size.
   AgentLink agent(global, false);
   Reply const r = agent.call(Request{Op::chip});
   if (!r.status.ok()) return failed(r.status, std::cerr);
   auto const profile = nlohmann::json::parse(r.chip).at("profile");
   TwiceNatP4rt::Pipeline const pipeline(profile.at("vrfKeyField").get<bool>(),
                                         profile.at("capacity").get<U64>());
   std::string text;
   if (args.has("json")) {
      google::protobuf::util::JsonPrintOptions options;
      options.add_whitespace = true;
      (void)google::protobuf::util::MessageToJsonString(pipeline.p4info(), &text, options);
   } else if (args.has("text")) {
      google::protobuf::TextFormat::PrintToString(pipeline.p4info(), &text);
   } else {
      text = pipeline.summary();
   }
   std::cout << text;
   return kExitOk;
}

}  // namespace

Command p4infoCommand() {
   return {
       {"p4info",
        "[--json|--text]",
        "Prints the table's P4Info for P4Runtime clients.",
        "Prints the P4Info that 'serve --p4rt' answers with for this chip: the table "
        "twiceNatAddrOnly, its exact match fields (l3InfoVrfId only when the chip has the VRF "
        "key field) and its three actions, with their ids. With --json or --text, the "
        "p4.config.v1.P4Info message in protobuf's JSON or text form, as P4Runtime clients "
        "load it.",
        {{"json", "", "the P4Info message in JSON"}, {"text", "", "the P4Info message in text"}}},
       p4info};
}

}  // namespace TwiceNatCli
