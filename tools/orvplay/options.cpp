#include "tools/orvplay/options.h"

#include <cctype>
#include <charconv>

namespace orvplay {

const char kUsage[] =
    "usage: orvplay --list\n"
    "       orvplay TRANSITION [options] (--out FILE.gif|FILE.png | --frames DIR | --no-output)\n"
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
    "  --color NAME         OrvColor's colour: red green blue cyan magenta yellow bw (bw)\n"
    "  --out FILE.gif       an animated GIF (at most 50 frames per second play at speed)\n"
    "  --out FILE.png       a contact sheet: frames at evenly spaced times\n"
    "  --frames DIR         DIR/frame-NNNNN.png for every step, DIR/final.png after Finish\n"
    "  --no-output          render the frames into memory only (--frames-to-memory too)\n"
    "  --all --out-dir DIR  every transition: DIR/SYMBOL.gif, DIR/SYMBOL.png, DIR/index.html\n"
    "  -h, --help           this text\n"
    "  --version            the version number\n";

namespace {

std::string Lower(std::string s) {
  for (char& c : s) c = char(std::tolower(static_cast<unsigned char>(c)));
  return s;
}

std::optional<int32_t> ParseInt(const std::string& text) {
  int32_t value = 0;
  const char* end = text.data() + text.size();
  auto [p, ec] = std::from_chars(text.data(), end, value);
  if (ec != std::errc() || p != end || text.empty()) return std::nullopt;
  return value;
}

constexpr const char* kColorNames[7] = {"red", "green", "blue", "cyan", "magenta", "yellow", "bw"};

}  // namespace

std::optional<int32_t> ColorByName(const std::string& name) {
  const std::string lower = Lower(name);
  for (int32_t i = 0; i < 7; ++i)
    if (lower == kColorNames[i]) return i;
  return std::nullopt;
}

const char* ColorName(int32_t choice) {
  return choice >= 0 && choice < 7 ? kColorNames[choice] : "?";
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

std::optional<Options> ParseOptions(const std::vector<std::string>& args, std::string& error) {
  Options o;
  auto fail = [&](std::string message) {
    error = std::move(message);
    return std::nullopt;
  };
  for (size_t i = 0; i < args.size(); ++i) {
    std::string arg = args[i], value;
    bool hasValue = false;
    if (arg.rfind("--", 0) == 0 && arg.find('=') != std::string::npos) {
      value = arg.substr(arg.find('=') + 1);
      arg = arg.substr(0, arg.find('='));
      hasValue = true;
    }
    // The option's value: after '=' or the next argument.
    auto next = [&]() -> std::optional<std::string> {
      if (hasValue) return value;
      if (i + 1 >= args.size()) return std::nullopt;
      return args[++i];
    };
    auto bad = [&](std::string message) {
      error = std::move(message);
      return false;
    };
    auto number = [&](int32_t& field, int32_t min, int32_t max) {
      const auto text = next();
      if (!text) return bad(arg + " needs a value");
      const auto v = ParseInt(*text);
      if (!v) return bad(arg + ": '" + *text + "' is not a whole number");
      if (*v < min || *v > max)
        return bad(arg + " must be from " + std::to_string(min) + " to " + std::to_string(max) +
                   ", not " + *text);
      field = *v;
      return true;
    };
    auto text = [&](std::string& field) {
      const auto v = next();
      if (!v || v->empty()) return bad(arg + " needs a value");
      field = *v;
      return true;
    };
    const bool flag = !hasValue;
    if ((arg == "-h" || arg == "--help") && flag) {
      o.help = true;
    } else if (arg == "--version" && flag) {
      o.version = true;
    } else if (arg == "--list" && flag) {
      o.list = true;
    } else if (arg == "--all" && flag) {
      o.all = true;
    } else if ((arg == "--no-output" || arg == "--frames-to-memory") && flag) {
      o.noOutput = true;
    } else if (arg == "--from") {
      if (!text(o.from)) return std::nullopt;
    } else if (arg == "--to") {
      if (!text(o.to)) return std::nullopt;
    } else if (arg == "--out") {
      if (!text(o.out)) return std::nullopt;
    } else if (arg == "--frames") {
      if (!text(o.framesDir)) return std::nullopt;
    } else if (arg == "--out-dir") {
      if (!text(o.outDir)) return std::nullopt;
    } else if (arg == "--depth") {
      const auto v = next();
      if (!v) return fail("--depth needs a value");
      const auto d = ParseInt(*v);
      if (!d || (*d != 8 && *d != 16 && *d != 24 && *d != 32))
        return fail("--depth must be 8, 16, 24 or 32, not " + *v);
      o.depth = *d;
    } else if (arg == "--duration") {
      if (!number(o.duration, 1, 600000)) return std::nullopt;
    } else if (arg == "--chunk") {
      if (!number(o.chunk, 1, 4096)) return std::nullopt;
    } else if (arg == "--fps") {
      if (!number(o.fps, 1, 1000)) return std::nullopt;
    } else if (arg == "--rect") {
      const auto v = next();
      if (!v) return fail("--rect needs a value: top,left,bottom,right");
      int32_t r[4];
      size_t start = 0;
      for (int k = 0; k < 4; ++k) {
        const size_t comma = k < 3 ? v->find(',', start) : v->size();
        const auto n =
            comma == std::string::npos ? std::nullopt : ParseInt(v->substr(start, comma - start));
        if (!n || (k == 3 && v->find(',', start) != std::string::npos))
          return fail("--rect must be four whole numbers top,left,bottom,right, not " + *v);
        r[k] = *n;
        start = comma + 1;
      }
      o.rect = HostRect{r[0], r[1], r[2], r[3]};
    } else if (arg == "--color") {
      const auto v = next();
      if (!v) return fail("--color needs a value");
      o.color = ColorByName(*v);
      if (!o.color)
        return fail("unknown colour '" + *v + "'; colours: red green blue cyan magenta yellow bw");
    } else if (arg.size() > 1 && arg[0] == '-') {
      return fail("unknown option " + args[i]);
    } else if (o.transition.empty()) {
      o.transition = arg;
    } else {
      return fail("one transition at a time: '" + o.transition + "' and '" + arg +
                  "' (use --all for every one)");
    }
  }
  if (o.help || o.version) return o;

  // How the options go together.
  if (o.list) {
    if (!o.transition.empty() || o.all) return fail("--list takes no transition");
    return o;
  }
  if (o.from.empty() != o.to.empty()) return fail("--from and --to go together");
  if (o.all) {
    if (!o.transition.empty()) return fail("--all plays every transition; name none");
    if (!o.out.empty() || !o.framesDir.empty())
      return fail("--all writes into --out-dir; --out and --frames are for one transition");
    if (o.outDir.empty() && !o.noOutput) return fail("--all needs --out-dir DIR");
    return o;
  }
  if (!o.outDir.empty()) return fail("--out-dir goes with --all");
  if (o.transition.empty()) return fail("name a transition (orvplay --list shows them)");
  if (!o.out.empty()) {
    const std::string ext = Lower(o.out.size() >= 4 ? o.out.substr(o.out.size() - 4) : "");
    if (ext != ".gif" && ext != ".png")
      return fail("--out " + o.out + ": the name must end in .gif or .png");
  }
  if (o.out.empty() && o.framesDir.empty() && !o.noOutput)
    return fail(
        "nothing to write: give --out FILE.gif, --out FILE.png, --frames DIR or --no-output");
  return o;
}

}  // namespace orvplay
