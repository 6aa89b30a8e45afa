// Fuzzes the command line: the input split at NUL bytes into arguments is
// read as main reads them. Whatever the arguments, the reading ends with
// the options or one error, and the options it gives are ones the table
// allows: a run without options has none set, --only names pictures of the
// catalogue, a disc is not given twice.
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "options.h"

namespace {

void Check(bool condition) {
  if (!condition) {
    std::abort();
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  std::vector<std::string> arguments(1);
  for (std::size_t i = 0; i < size; ++i) {
    if (data[i] == 0) {
      arguments.emplace_back();
    } else {
      arguments.back().push_back(static_cast<char>(data[i]));
    }
  }
  const app::CommandLine line = app::ParseCommandLine(arguments);
  if (!line.error.empty()) {
    Check(line.hasOptions);
    return 0;
  }
  const app::Options& options = line.options;
  if (!line.hasOptions) {
    Check(!options.check && !options.list && !options.out && !options.image);
    Check(options.only.all());
  }
  Check(!(options.check && options.list));
  Check(!(options.drive && options.image && line.hasOptions));
  Check(!options.out || !options.out->empty());
  return 0;
}
