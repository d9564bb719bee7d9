// SPDX-License-Identifier: Apache-2.0
#include "program/command_line.h"

#include <cstdio>
#include <iostream>
#include <string>

#include "platform/version.h"

namespace cli {

std::optional<int> Parse(CLI::App& app, int argc, char** argv, const char* usage) {
  app.set_version_flag("--version", app.get_name() + " " + FISCAL_VERSION,
                       "print the program's name and version and exit");
  try {
    app.parse(argc, argv);
    return std::nullopt;
  } catch (const CLI::CallForHelp&) {
    if (usage != nullptr) {
      std::fputs(usage, stdout);
    } else {
      std::cout << app.help();
    }
    return kDone;
  } catch (const CLI::CallForVersion&) {
    std::cout << app.get_name() << " " << FISCAL_VERSION << "\n";
    return kDone;
  } catch (const CLI::ParseError& e) {
    std::cerr << app.get_name() << ": " << e.what() << (usage ? "\n" : " (see --help)\n");
    if (usage != nullptr) std::fputs(usage, stderr);
    return kUsage;
  }
}

}  // namespace cli
