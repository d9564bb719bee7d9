// SPDX-License-Identifier: Apache-2.0
// Feeds arbitrary bytes to the demo host's scenario reader as a scenario file: every input
// must read into steps or raise scenario::Error naming a line of the input; no other exception,
// crash or undefined behaviour. A dataset block that reads is an open dataset with its fields.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "tools/scenario.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string text(reinterpret_cast<const char*>(data), size);
  const std::vector<std::string> lines = scenario::SplitLines(text);
  scenario::Parser parser;
  try {
    for (const std::string& line : lines) {
      const std::optional<scenario::Step> step = parser.Line(line);
      if (step && step->kind == scenario::Step::Kind::Dataset &&
          (!step->dataset || !step->dataset->Active() || step->dataset->FieldDefs().empty())) {
        std::abort();
      }
    }
    parser.End();
  } catch (const scenario::Error& e) {
    if (e.line == 0 || e.line > lines.size()) std::abort();
  }
  return 0;
}
