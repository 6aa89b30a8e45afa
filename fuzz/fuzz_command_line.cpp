// Fuzzes the command line: the input split at NUL bytes into arguments is
// read as main reads them. Whatever the arguments, the reading ends with
// the options or one error, and the options it gives are ones the table
// allows: a run without options has none set, --only names pictures of the
// catalogue, a disc is not given twice.
#include <cstdint>
#include <string>
#include <vector>

#include "fuzz_support.h"
#include "options.h"

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
    FUZZ_CHECK(line.hasOptions);
    return 0;
  }
  const app::Options& options = line.options;
  if (!line.hasOptions) {
    FUZZ_CHECK(!options.check && !options.list && !options.out && !options.image);
    FUZZ_CHECK(options.only.all());
  }
  FUZZ_CHECK(!(options.check && options.list));
  FUZZ_CHECK(!(options.drive && options.image && line.hasOptions));
  FUZZ_CHECK(!options.out || !options.out->empty());
  return 0;
}
