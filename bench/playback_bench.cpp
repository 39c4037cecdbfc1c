// Whole playbacks as the host plays them, timed in this process: the loaded
// module (ORV_MODULE, or the one beside this program) through the stand-in
// host, a placed member, MakeActor, then Cue, Continue at elapsed
// floor(1000 k / fps) for k = 0, 1, ... until the actor reports done, and
// Finish, on a width x height stage at each depth. One untimed playback
// first, then --repetitions timed ones; the medians are printed.
//
// The same source builds natively (the module on the platform stand-in) and
// for 32-bit Windows (the shipped DLL on the system's gdi32, or Wine's), so
// that both are timed by the same loop. Every BitBlt the module calls is
// timed too, by a wrapper in front of it: on Windows the module's import of
// GDI32's BitBlt is pointed at the wrapper, elsewhere this program defines
// BitBlt, which the module binds to before the stand-in's (it is the first
// in the lookup order), and forwards to the next definition. A BitBlt into
// the window is the step's copy to the window ("present"); one into the
// offscreen image is Cue's capture of the window ("capture").
//
//   orvplayback [--width W] [--height H] [--depths 16,24,32] [--duration MS]
//               [--fps N] [--chunk N] [--repetitions N] [SYMBOL...]
//
// Prints, once every playback has run, lines of key=value: first the module
// file as loaded and the kernel set this build's dispatch picks here (the
// same code the module runs, built by the same compiler), then one line per
// transition and depth. Times in microseconds, medians over the
// repetitions: total (Cue to Finish), cue, steps (every Continue), finish,
// present and capture (inside the former), and rest (total less present,
// the median of the differences).
#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <stdexcept>
#include <string>
#include <type_traits>
#include <vector>

#include "host/member.h"
#include "host/stand_in_host.h"
#include "kernels/kernel_dispatch.h"
#include "platform/win32.h"

#if !defined(_WIN32)
#include <dlfcn.h>
#endif

namespace {

using namespace orv::module;

// Seconds on a monotonic clock: QueryPerformanceCounter on Windows (under
// Wine too), the steady clock elsewhere.
double Now() {
#if defined(_WIN32)
  static const double period = [] {
    LARGE_INTEGER f;
    QueryPerformanceFrequency(&f);
    return 1.0 / static_cast<double>(f.QuadPart);
  }();
  LARGE_INTEGER t;
  QueryPerformanceCounter(&t);
  return static_cast<double>(t.QuadPart) * period;
#else
  return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count();
#endif
}

// What the wrapper adds up during one playback.
struct BlitTimes {
  HDC window = nullptr;  // a BitBlt into it is a presentation
  double present = 0, capture = 0;
  int calls = 0;
};
BlitTimes blits;

using BitBltFn = BOOL(WINAPI*)(HDC, int, int, int, int, HDC, int, int, DWORD);
BitBltFn nextBitBlt = nullptr;

BOOL WINAPI TimedBitBlt(HDC dst, int x, int y, int w, int h, HDC src, int sx, int sy, DWORD rop) {
  const double t0 = Now();
  const BOOL r = nextBitBlt(dst, x, y, w, h, src, sx, sy, rop);
  const double t = Now() - t0;
  (dst == blits.window ? blits.present : blits.capture) += t;
  ++blits.calls;
  return r;
}

[[noreturn]] void Fail(const std::string& message) { throw std::runtime_error(message); }

#if defined(_WIN32)
// Points the module's import of GDI32's BitBlt at the wrapper: the import
// address table entry the loader filled, found through the import directory.
void WrapBitBlt(HMODULE module) {
  auto* base = reinterpret_cast<uint8_t*>(module);
  const auto* dos = reinterpret_cast<const IMAGE_DOS_HEADER*>(base);
  const auto* nt = reinterpret_cast<const IMAGE_NT_HEADERS*>(base + dos->e_lfanew);
  const IMAGE_DATA_DIRECTORY& dir = nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_IMPORT];
  if (dir.VirtualAddress == 0) Fail("the module imports nothing");
  for (auto* d = reinterpret_cast<const IMAGE_IMPORT_DESCRIPTOR*>(base + dir.VirtualAddress);
       d->Name != 0; ++d) {
    if (_stricmp(reinterpret_cast<const char*>(base + d->Name), "gdi32.dll") != 0) continue;
    const DWORD names = d->OriginalFirstThunk ? d->OriginalFirstThunk : d->FirstThunk;
    auto* name = reinterpret_cast<const IMAGE_THUNK_DATA*>(base + names);
    auto* slot = reinterpret_cast<IMAGE_THUNK_DATA*>(base + d->FirstThunk);
    for (; name->u1.AddressOfData != 0; ++name, ++slot) {
      if (IMAGE_SNAP_BY_ORDINAL(name->u1.Ordinal)) continue;
      const auto* byName =
          reinterpret_cast<const IMAGE_IMPORT_BY_NAME*>(base + name->u1.AddressOfData);
      if (std::strcmp(reinterpret_cast<const char*>(byName->Name), "BitBlt") != 0) continue;
      DWORD was = 0;
      if (!VirtualProtect(&slot->u1.Function, sizeof slot->u1.Function, PAGE_READWRITE, &was))
        Fail("VirtualProtect refused the module's import table");
      nextBitBlt = reinterpret_cast<BitBltFn>(slot->u1.Function);
      slot->u1.Function = reinterpret_cast<uintptr_t>(&TimedBitBlt);
      VirtualProtect(&slot->u1.Function, sizeof slot->u1.Function, was, &was);
      return;
    }
  }
  Fail("the module imports no BitBlt from GDI32");
}

std::string LoadedFile(void* handle) {
  char path[MAX_PATH];
  const DWORD n = GetModuleFileNameA(static_cast<HMODULE>(handle), path, MAX_PATH);
  return std::string(path, n);
}
#else
std::string LoadedFile(void* handle) {
  // Any export of the module names its file.
  void* symbol = dlsym(handle, "DllGetClassInfo");
  Dl_info info{};
  if (!symbol || !dladdr(symbol, &info) || !info.dli_fname) Fail("dladdr: the module's file");
  char resolved[PATH_MAX];
  return realpath(info.dli_fname, resolved) ? resolved : info.dli_fname;
}
#endif

struct Settings {
  int32_t width = 1920, height = 1080, duration = 2000, fps = 30, chunk = 64;
  int repetitions = 7;
  std::vector<int32_t> depths{16, 24, 32};
  std::vector<std::string> symbols;
};

struct Times {
  double total, cue, steps, finish, present, capture;
};

// The two pictures, a pattern of each position and its own seed, so that
// every byte of the start frame differs from the end frame's.
void FillStage(orvhost::Surface& window, orvhost::Surface& offscreen) {
  const size_t bytes = size_t(window.rowBytes) * size_t(window.height);
  for (size_t i = 0; i < bytes; ++i) {
    window.pixels[i] = static_cast<uint8_t>(i * 7 + 1);
    offscreen.pixels[i] = static_cast<uint8_t>(i * 13 + 2);
  }
}

void Check(HResult rc, const std::string& what) {
  if (rc != 0) {
    char code[16];
    std::snprintf(code, sizeof code, "0x%08X", static_cast<unsigned>(rc));
    Fail(what + " failed with " + code);
  }
}

Times PlayOnce(orvhost::Member& member, orvhost::Surface& window, orvhost::Surface& offscreen,
               const Settings& s, const std::string& symbol, int* stepCount) {
  FillStage(window, offscreen);
  orvhost::Actor actor;
  Check(member.MakeActor(actor), symbol + ": MakeActor");
  const HostRect rect{0, 0, s.height, s.width};
  TransitionParams params{s.chunk, s.duration, 0, 0};
  blits = BlitTimes{window.dc};
  Times t{};
  const double start = Now();
  Check(actor.Cue(window, offscreen, rect, params), symbol + ": Cue");
  const double cued = Now();
  const int64_t giveUp = 2 * int64_t(s.duration) + 1000;
  int32_t done = 0;
  int k = 0;
  for (; !done; ++k) {
    params.elapsed = int32_t(int64_t(k) * 1000 / s.fps);
    if (params.elapsed > giveUp)
      Fail(symbol + " did not report done by " + std::to_string(params.elapsed) + " ms");
    Check(actor.Continue(window, offscreen, rect, params, &done), symbol + ": Continue");
  }
  const double stepped = Now();
  Check(actor.Finish(window, offscreen, rect, params), symbol + ": Finish");
  const double end = Now();
  *stepCount = k;
  t.total = end - start;
  t.cue = cued - start;
  t.steps = stepped - cued;
  t.finish = end - stepped;
  t.present = blits.present;
  t.capture = blits.capture;
  return t;
}

double Median(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  const size_t n = v.size();
  return n % 2 ? v[n / 2] : (v[n / 2 - 1] + v[n / 2]) / 2;
}

std::string Us(double seconds) { return std::to_string(int64_t(seconds * 1e6 + 0.5)); }

std::string Run(const Settings& s) {
  orvhost::Host host;
  host.recording = false;  // a long playback would fill the call log
#if defined(_WIN32)
  WrapBitBlt(static_cast<HMODULE>(host.module().handle()));
#else
  nextBitBlt = reinterpret_cast<BitBltFn>(dlsym(RTLD_NEXT, "BitBlt"));
  if (!nextBitBlt) Fail("dlsym: no BitBlt after this program's");
#endif
  Check(orvhost::RegisterTransitions(host), "RegisterTransitions");
  std::vector<const orvhost::Dict*> entries;
  for (const auto& entry : host.registry) {
    const orvhost::DictValue* v = entry->Find("symbolString");
    if (!v) Fail("a registry entry without symbolString");
    if (s.symbols.empty() ||
        std::find(s.symbols.begin(), s.symbols.end(), v->AsText()) != s.symbols.end())
      entries.push_back(entry.get());
  }
  for (const std::string& wanted : s.symbols) {
    const bool found = std::any_of(entries.begin(), entries.end(), [&](const orvhost::Dict* e) {
      return e->Find("symbolString")->AsText() == wanted;
    });
    if (!found) Fail("the module registers no transition " + wanted);
  }
  if (entries.empty()) Fail("the module registered no transitions");

  const char* cap = std::getenv("ORV_SIMD");
  std::string out = "module=" + LoadedFile(host.module().handle()) + "\n";
  out += std::string("kernels=") + orv::kernels::ActiveKernelSet().name +
         " simd=" + (cap ? cap : "(unset)") + " pointer_bits=" + std::to_string(8 * sizeof(void*)) +
         "\n";
  for (const int32_t depth : s.depths) {
    auto window = host.NewSurface("window", s.width, s.height, depth);
    auto offscreen = host.NewSurface("offscreen", s.width, s.height, depth);
    for (const orvhost::Dict* entry : entries) {
      const std::string symbol = entry->Find("symbolString")->AsText();
      orvhost::Member member;
      Check(member.Place(host, *entry), symbol + ": Place");
      int steps = 0;
      PlayOnce(member, *window, *offscreen, s, symbol, &steps);  // untimed
      const int blitCalls = blits.calls;
      std::vector<double> total, cue, stepTimes, finish, present, capture, rest;
      for (int r = 0; r < s.repetitions; ++r) {
        const Times t = PlayOnce(member, *window, *offscreen, s, symbol, &steps);
        total.push_back(t.total);
        cue.push_back(t.cue);
        stepTimes.push_back(t.steps);
        finish.push_back(t.finish);
        present.push_back(t.present);
        capture.push_back(t.capture);
        rest.push_back(t.total - t.present);
      }
      out += "symbol=" + symbol + " depth=" + std::to_string(depth) +
             " steps=" + std::to_string(steps) + " blits=" + std::to_string(blitCalls) +
             " total=" + Us(Median(total)) + " cue=" + Us(Median(cue)) +
             " continue=" + Us(Median(stepTimes)) + " finish=" + Us(Median(finish)) +
             " present=" + Us(Median(present)) + " capture=" + Us(Median(capture)) +
             " rest=" + Us(Median(rest)) +
             " min_total=" + Us(*std::min_element(total.begin(), total.end())) + "\n";
    }
  }
  return out;
}

// A whole number in [low, high], or why not.
bool ParseNumber(const char* text, int64_t low, int64_t high, int64_t* value) {
  char* end = nullptr;
  errno = 0;
  const long long v = std::strtoll(text, &end, 10);
  if (errno != 0 || end == text || *end != '\0' || v < low || v > high) return false;
  *value = v;
  return true;
}

int Usage(const std::string& problem) {
  std::fprintf(stderr,
               "orvplayback: %s\n"
               "usage: orvplayback [--width W] [--height H] [--depths 16,24,32] "
               "[--duration MS] [--fps N] [--chunk N] [--repetitions N] [SYMBOL...]\n",
               problem.c_str());
  return 2;
}

}  // namespace

#if !defined(_WIN32)
// The module's BitBlt lands here, and goes on to the stand-in's.
extern "C" __attribute__((visibility("default"))) BOOL WINAPI BitBlt(HDC dst, int x, int y, int w,
                                                                     int h, HDC src, int sx, int sy,
                                                                     DWORD rop) {
  return TimedBitBlt(dst, x, y, w, h, src, sx, sy, rop);
}
#endif

int main(int argc, char** argv) {
  Settings s;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    auto number = [&](int64_t low, int64_t high, auto* field) {
      int64_t v = 0;
      if (i + 1 >= argc || !ParseNumber(argv[i + 1], low, high, &v)) return false;
      *field = static_cast<std::remove_pointer_t<decltype(field)>>(v);
      ++i;
      return true;
    };
    bool ok = true;
    if (arg == "--width")
      ok = number(1, 16384, &s.width);
    else if (arg == "--height")
      ok = number(1, 16384, &s.height);
    else if (arg == "--duration")
      ok = number(1, 60000, &s.duration);
    else if (arg == "--fps")
      ok = number(1, 1000, &s.fps);
    else if (arg == "--chunk")
      ok = number(1, 16384, &s.chunk);
    else if (arg == "--repetitions")
      ok = number(1, 1000, &s.repetitions);
    else if (arg == "--depths") {
      ok = i + 1 < argc;
      if (ok) {
        s.depths.clear();
        std::string list = argv[++i];
        for (size_t at = 0; ok && at <= list.size();) {
          const size_t comma = std::min(list.find(',', at), list.size());
          int64_t d = 0;
          ok = ParseNumber(list.substr(at, comma - at).c_str(), 16, 32, &d) &&
               (d == 16 || d == 24 || d == 32);
          s.depths.push_back(int32_t(d));
          at = comma + 1;
        }
      }
    } else if (arg == "-h" || arg == "--help") {
      std::printf(
          "usage: orvplayback [--width W] [--height H] [--depths 16,24,32] "
          "[--duration MS] [--fps N] [--chunk N] [--repetitions N] [SYMBOL...]\n");
      return 0;
    } else if (!arg.empty() && arg[0] == '-')
      return Usage("unknown option " + arg);
    else
      s.symbols.push_back(arg);
    if (!ok) return Usage(arg + " takes a value in range (the depths: 16, 24, 32)");
  }
  try {
    const std::string out = Run(s);
    // Written at once: the whole report or, on a failure, none of it.
    if (std::fwrite(out.data(), 1, out.size(), stdout) != out.size() || std::fflush(stdout) != 0) {
      std::fprintf(stderr, "orvplayback: standard output: %s\n", std::strerror(errno));
      return 1;
    }
  } catch (const std::exception& e) {
    std::fprintf(stderr, "orvplayback: %s\n", e.what());
    return 1;
  }
  return 0;
}
