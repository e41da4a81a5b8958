// twicenat_docs: what the build makes of the command table, written to a file.
//   twicenat_docs bash FILE    the bash completion
//   twicenat_docs scdoc FILE   the man page, in scdoc's markup
#include <fstream>
#include <iostream>
#include <string_view>

#include "agent/cli/Completion.h"
#include "agent/cli/ManPage.h"

int main(int argc, char** argv) {
   std::string_view const what = argc == 3 ? argv[1] : "";
   if (what != "bash" && what != "scdoc") {
      std::cerr << "usage: twicenat_docs bash|scdoc FILE\n";
      return 2;
   }
   std::ofstream out(argv[2]);
   out << (what == "bash" ? TwiceNatCli::bashCompletion() : TwiceNatCli::manPageScdoc());
   out.close();
   if (!out) {
      std::cerr << "twicenat_docs: cannot write " << argv[2] << "\n";
      return 1;
   }
   return 0;
}
