#include "tools/orvplay/options.h"

#include <algorithm>
#include <cctype>
#include <cstdint>

#include "tools/args.h"
#include "tools/orvplay/output_kinds.h"
#include "tools/orvplay/stage.h"

namespace orvplay {

namespace {

// "  --out FILE.gif       an animated GIF": an option and its meaning.
std::string UsageLine(const std::string& option, const std::string& meaning) {
  std::string line = "  " + option;
  line.resize(std::max<size_t>(line.size() + 1, 23), ' ');
  return line + meaning + "\n";
}

// " and " or " or " between "FILE.mp4 (H.264 RGB)"s: the names --lossless is for.
std::string LosslessNames(const char* between, bool withCodec) {
  std::string names;
  for (const OutputKind& k : kOutputKinds) {
    if (!k.TakesLossless()) continue;
    names += (names.empty() ? "FILE" : between + std::string("FILE")) + k.extension;
    if (withCodec) names += std::string(" (") + k.lossless->name + ")";
  }
  return names;
}

}  // namespace

std::string Usage() {
  std::string usage =
      "usage: orvplay --list\n"
      "       orvplay TRANSITION [options] (--out FILE | --frames DIR | --no-output)\n"
      "       orvplay --all --out-dir DIR [options]\n"
      "\n"
      "Plays a transition of ORVPACK1.x32 through the stand-in host, as the host\n"
      "plays it, and records what the window shows after every step.\n"
      "\n"
      "  --list               the registered transitions\n"
      "  TRANSITION           symbol or display name, any case (OrvWipeUp, \"orvwipe up\")\n"
      "  --from A.png --to B.png\n"
      "                       the two frames (same size); default: two built-in pictures\n"
      "  --depth 8|16|24|32   the stage's bits per pixel (32); at 8 a transition is a cut\n"
      "  --duration MS        the transition's duration (2000)\n"
      "  --chunk N            chunk size, the wipes' band (64)\n"
      "  --fps N              steps per second of elapsed time (30)\n"
      "  --rect T,L,B,R       the transition rectangle (the whole picture)\n"
      "  --color NAME         OrvColor's colour: red green blue cyan magenta yellow bw (bw)\n";
  std::string lossless;
  for (const OutputKind& k : kOutputKinds) {
    usage += UsageLine("--out FILE" + std::string(k.extension), k.help);
    if (k.losslessHelp)
      lossless += (lossless.empty() ? "with " : "; with ") + std::string(k.extension) + ": " +
                  k.losslessHelp;
  }
  usage += UsageLine("--lossless", lossless);
  std::string gallery;
  for (const GalleryPlace place : kGalleryPlaces)
    if (const OutputKind* k = GalleryKind(place))
      gallery +=
          (gallery.empty() ? "every transition: DIR/SYMBOL" : ", ") + std::string(k->extension);
  usage +=
      "  --frames DIR         DIR/frame-NNNNN.png for every step, DIR/final.png after Finish\n"
      "  --no-output          render the frames into memory only (--frames-to-memory too)\n" +
      UsageLine("--all --out-dir DIR", gallery + ", DIR/index.html") +
      "  --force              let --frames or --out-dir use a folder that holds files: the\n"
      "                       set orvplay writes there is replaced whole, the rest left alone\n"
      "  -h, --help           this text\n"
      "  --version            the version number\n"
      "\n"
      "Pictures: at most 16384 pixels on a side and 8192 x 8192 pixels in all (a run\n"
      "holds 25 to 210 bytes per pixel, by output kind: see README). Outputs appear\n"
      "whole or not at all; --out replaces its file (through a link, the file linked\n"
      "to). Exit codes: 0 done,\n"
      "1 could not be done, 2 wrong usage, 130/143/129 stopped by SIGINT/SIGTERM/SIGHUP.\n";
  return usage;
}

namespace {

using orvtools::Lower;

const std::vector<std::string> kColorChoices(kColorNames.begin(), kColorNames.end());

}  // namespace

std::optional<int32_t> ColorByName(const std::string& name) {
  for (size_t i = 0; i < kColorChoices.size(); ++i)
    if (Lower(name) == kColorChoices[i]) return int32_t(i);
  return std::nullopt;
}

const char* ColorName(int32_t choice) {
  return choice >= 0 && size_t(choice) < kColorNames.size() ? kColorNames[size_t(choice)] : "?";
}

bool NameMatches(const std::string& typed, const std::string& name) {
  auto squeeze = [](const std::string& s) {
    std::string out;
    for (char c : Lower(s))
      if (c != ' ' && c != '-' && c != '_') out += c;
    return out;
  };
  const std::string t = squeeze(typed), n = squeeze(name);
  return !t.empty() && (t == n || "orv" + t == n);
}

Options ParseOptions(const std::vector<std::string>& argv) {
  using orvtools::UsageError;
  const orvtools::Args args(argv, {{{"--help", "-h"}},
                                   {{"--version"}},
                                   {{"--list"}},
                                   {{"--all"}},
                                   {{"--no-output", "--frames-to-memory"}},
                                   {{"--force"}},
                                   {{"--lossless"}},
                                   {{"--from"}, true},
                                   {{"--to"}, true},
                                   {{"--out"}, true},
                                   {{"--frames"}, true},
                                   {{"--out-dir"}, true},
                                   {{"--depth"}, true},
                                   {{"--duration"}, true},
                                   {{"--chunk"}, true},
                                   {{"--fps"}, true},
                                   {{"--rect"}, true},
                                   {{"--color"}, true}});
  Options o;
  o.help = args.Has("--help");
  o.version = args.Has("--version");
  if (o.help || o.version) {
    const std::string name = o.help ? "--help" : "--version";
    args.AtMostPositional(0, name);
    if (args.OptionCount() > 1) throw UsageError(name + " goes alone");
    return o;
  }
  o.list = args.Has("--list");
  o.all = args.Has("--all");
  o.noOutput = args.Has("--no-output");
  o.force = args.Has("--force");
  o.lossless = args.Has("--lossless");
  o.from = args.Value("--from").value_or("");
  o.to = args.Value("--to").value_or("");
  o.out = args.Value("--out").value_or("");
  o.framesDir = args.Value("--frames").value_or("");
  o.outDir = args.Value("--out-dir").value_or("");
  if (const auto depth = args.Value("--depth")) {
    static const int32_t kDepths[] = {8, 16, 24, 32};
    o.depth = kDepths[orvtools::ParseChoice("--depth", *depth, {"8", "16", "24", "32"})];
  }
  o.duration = int32_t(args.Whole("--duration", 1, 600000, o.duration));
  o.chunk = int32_t(args.Whole("--chunk", 1, 4096, o.chunk));
  o.fps = int32_t(args.Whole("--fps", 1, 1000, o.fps));
  if (const auto rect = args.Value("--rect")) {
    const auto r = orvtools::ParseWholeList("--rect", *rect, ',', 4, INT32_MIN, INT32_MAX);
    o.rect = HostRect{int32_t(r[0]), int32_t(r[1]), int32_t(r[2]), int32_t(r[3])};
  }
  if (const auto color = args.Value("--color"))
    o.color = int32_t(orvtools::ParseChoice("--color", *color, kColorChoices));
  if (args.positional().size() > 1)
    throw UsageError("one transition at a time: '" + args.positional()[0] + "' and '" +
                     args.positional()[1] + "' (use --all for every one)");
  if (!args.positional().empty()) o.transition = args.positional()[0];

  // How the options go together.
  if (o.force && o.framesDir.empty() && o.outDir.empty())
    throw UsageError("--force is for --frames and --out-dir (--out replaces its file anyway)");
  if (o.list) {
    if (!o.transition.empty() || o.all) throw UsageError("--list takes no transition");
    return o;
  }
  if (o.from.empty() != o.to.empty()) throw UsageError("--from and --to go together");
  if (o.noOutput && (!o.out.empty() || !o.framesDir.empty() || !o.outDir.empty()))
    throw UsageError(
        "--no-output writes nothing; leave it out to write --out, --frames or "
        "--out-dir");
  if (o.all) {
    if (!o.transition.empty()) throw UsageError("--all plays every transition; name none");
    if (!o.out.empty() || !o.framesDir.empty())
      throw UsageError("--all writes into --out-dir; --out and --frames are for one transition");
    if (o.outDir.empty() && !o.noOutput) throw UsageError("--all needs --out-dir DIR");
    if (o.lossless)
      throw UsageError("--lossless is for one transition's --out " + LosslessNames(" or ", false));
    return o;
  }
  if (!o.outDir.empty()) throw UsageError("--out-dir goes with --all");
  if (o.transition.empty()) throw UsageError("name a transition (orvplay --list shows them)");
  if (!o.out.empty()) orvtools::CheckOutputName("--out", o.out, OutputExtensions());
  const OutputKind* kind = o.out.empty() ? nullptr : OutputKindFor(o.out);
  if (o.lossless && !(kind && kind->TakesLossless()))
    throw UsageError("--lossless is for --out " + LosslessNames(" and ", true));
  if (o.out.empty() && o.framesDir.empty() && !o.noOutput)
    throw UsageError("nothing to write: give --out FILE, --frames DIR or --no-output");
  return o;
}

}  // namespace orvplay
