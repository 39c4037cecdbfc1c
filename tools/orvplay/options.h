// orvplay's command line.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "module/host_services.h"

namespace orvplay {

using orv::module::HostRect;

struct Options {
  bool help = false;
  bool version = false;
  bool list = false;
  bool all = false;
  bool noOutput = false;  // render into memory only
  bool force = false;     // an output folder may already hold files
  std::string transition;
  std::string from, to;
  std::string out;        // a file of one of kOutputKinds
  bool lossless = false;  // a video that keeps the pixels exactly
  std::string framesDir;  // every frame as a PNG
  std::string outDir;     // with --all
  int32_t depth = 32;
  int32_t duration = 2000;
  int32_t chunk = 64;
  int32_t fps = 30;
  std::optional<HostRect> rect;
  std::optional<int32_t> color;  // ColorChoice 0..6
};

// Parses the arguments after the program name; a mistake throws
// orvtools::UsageError with a message for the user.
Options ParseOptions(const std::vector<std::string>& args);

// ColorChoice for a --color name ("red" .. "yellow", "bw"), case-insensitive.
std::optional<int32_t> ColorByName(const std::string& name);
const char* ColorName(int32_t choice);

// A transition name as the user may type it: case, spaces, '-' and '_' do not
// matter, and the "Orv" prefix may be left out.
bool NameMatches(const std::string& typed, const std::string& name);

// The text of --help.
std::string Usage();

}  // namespace orvplay
