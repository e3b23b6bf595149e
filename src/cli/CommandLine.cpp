#include "cli/CommandLine.h"

#include "base/Paths.h"

#include <optional>

namespace zv {

TCommandLine ParseCommandLine(int argc, char** argv) {
  TCommandLine cl;
  bool optionsEnded = false;
  for (int i = 1; i < argc; ++i) {
    std::string arg = argv[i];
    if (optionsEnded || arg.size() < 2 || arg[0] != '-') {
      cl.Files.push_back(arg);
      continue;
    }
    if (arg == "--") {
      optionsEnded = true;
      continue;
    }
    // "--name=value" and "-oDIR" carry their value inline.
    std::optional<std::string> inlineValue;
    if (arg.rfind("--", 0) == 0) {
      const auto eq = arg.find('=');
      if (eq != std::string::npos) {
        inlineValue = arg.substr(eq + 1);
        arg.resize(eq);
      }
    } else if (arg.size() > 2 && arg[1] == 'o') {
      inlineValue = arg.substr(2);
      arg = "-o";
    }
    const auto value = [&]() -> std::string {
      if (inlineValue) return *inlineValue;
      if (i + 1 >= argc) throw TUsageError{"option " + arg + " needs a value"};
      return argv[++i];
    };
    const auto flag = [&]() {
      if (inlineValue) throw TUsageError{"option " + arg + " takes no value"};
    };

    if (arg == "-o" || arg == "--output") {
      cl.Output = value();
      cl.HasOutput = true;
      if (cl.Output.empty()) throw TUsageError{"the target directory is empty"};
    } else if (arg == "--single") {
      flag();
      cl.Single = true;
    } else if (arg == "--atlas-name") {
      cl.AtlasName = value();
    } else if (arg == "--tile") {
      const std::string v = value();
      const auto x = v.find_first_of("xX");
      if (x == std::string::npos) throw TUsageError{"--tile expects WxH, for example 400x400"};
      cl.Options.TileWidthText = v.substr(0, x);
      cl.Options.TileHeightText = v.substr(x + 1);
    } else if (arg == "--tile-width") {
      cl.Options.TileWidthText = value();
    } else if (arg == "--tile-height") {
      cl.Options.TileHeightText = value();
    } else if (arg == "--format") {
      const std::string v = UpperCaseAscii(value());
      if (v == "JPEG" || v == "JPG")
        cl.Options.FormatRow = 0;
      else if (v == "PNG")
        cl.Options.FormatRow = 1;
      else
        throw TUsageError{"--format expects jpeg or png"};
    } else if (arg == "--quality") {
      cl.Options.QualityText = value();
    } else if (arg == "--depth") {
      const std::string v = value();
      std::int32_t row = -1;
      if (!ParseIntegerText(v, row) || row < 0 || row > 7) throw TUsageError{"--depth expects a row from 0 to 7"};
      cl.Options.DepthRow = row;
    } else if (arg == "--tar") {
      flag();
      cl.Options.Tared = true;
    } else if (arg == "--reload") {
      flag();
      cl.Reload = true;
    } else if (arg == "--list") {
      flag();
      cl.List = true;
    } else if (arg == "--check") {
      flag();
      cl.Check = true;
    } else if (arg == "-q" || arg == "--quiet") {
      flag();
      cl.Quiet = true;
    } else if (arg == "-h" || arg == "--help") {
      cl.Help = true;
    } else if (arg == "--version") {
      cl.Version = true;
    } else {
      throw TUsageError{"unknown option " + arg};
    }
  }
  if (cl.Help || cl.Version) return cl;
  if (cl.Files.empty()) throw TUsageError{"no input file given"};
  if (cl.List && cl.Check) throw TUsageError{"--list and --check do not go together"};
  if (!cl.List && !cl.Check && !cl.HasOutput) throw TUsageError{"the target directory (-o DIR) is required"};
  return cl;
}

} // namespace zv
