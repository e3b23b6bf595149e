// The converter's command line: NUL-separated arguments parse or raise a
// usage error, never anything else.
#include "cli/CommandLine.h"

#include <string>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  std::vector<std::string> args{"zovevod-export"};
  std::string current;
  for (std::size_t i = 0; i < size && args.size() < 64; ++i) {
    if (data[i] == 0) {
      args.push_back(current);
      current.clear();
    } else {
      current += static_cast<char>(data[i]);
    }
  }
  if (!current.empty()) args.push_back(current);
  std::vector<char*> argv;
  for (std::string& a : args) argv.push_back(a.data());
  argv.push_back(nullptr);
  try {
    const zv::TCommandLine cl = zv::ParseCommandLine(static_cast<int>(args.size()), argv.data());
    std::int32_t value = 0;
    zv::ParseIntegerText(cl.Options.TileWidthText, value);
    zv::ParseIntegerText(cl.Options.QualityText, value);
  } catch (const zv::TUsageError&) {
  }
  return 0;
}
