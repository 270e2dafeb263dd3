// quillmar-cli version: the program's title and version.
#include <nlohmann/json.hpp>

#include "cli_command.h"

#ifndef QM_VERSION
#define QM_VERSION "0.1"
#endif

static CliCommandRegistrar versionCommand(
    "version", "Show the program's version", [](CLI::App&, CliContext& context) -> CliRun {
      return [&context] {
        if (context.json) {
          nlohmann::json out = {{"product", CMRegApp::kProductTitle}, {"version", QM_VERSION}};
          std::fprintf(context.out, "%s\n", out.dump().c_str());
        } else {
          std::fprintf(context.out, "%s Version %s\n", CMRegApp::kProductTitle, QM_VERSION);
        }
        return 0;
      };
    });
