// The native side of the pe32 leg: the module built for this machine, driven
// through the stand-in host by the commands tests/pe32/pe32.py sends on
// standard input, one per line. Each command's results are printed, then the
// host calls it caused, then "end"; pe32.py plays the same command on the
// 32-bit Windows module in its emulator and wants the same lines.
//
// The dialog procedures get a pretend dialog whose window services are
// defined here (they take the platform's place for the module), and the
// graphics calls of the thumbnail are recorded on their way to the platform.
#include <dlfcn.h>

#include <cstdio>
#include <cstring>
#include <iostream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "asset/transition_asset.h"
#include "host/member.h"
#include "host/stand_in_host.h"
#include "module/class_ids.h"
#include "module/class_table.h"
#include "tests/support/asset_peek.h"

using namespace orv::module;

using namespace orvhost;

namespace {

Host* theHost = nullptr;
bool recordPlatform = false;

std::string Hex(const void* data, size_t n) {
  static const char digits[] = "0123456789abcdef";
  std::string out;
  for (size_t i = 0; i < n; ++i) {
    const uint8_t b = static_cast<const uint8_t*>(data)[i];
    out += digits[b >> 4];
    out += digits[b & 15];
  }
  return out.empty() ? "-" : out;
}

std::vector<uint8_t> Unhex(const std::string& text) {
  std::vector<uint8_t> out;
  for (size_t i = 0; text != "-" && i + 1 < text.size(); i += 2)
    out.push_back(static_cast<uint8_t>(std::stoul(text.substr(i, 2), nullptr, 16)));
  return out;
}

uint32_t Crc32(const uint8_t* p, size_t n) {
  uint32_t crc = ~0u;
  for (size_t i = 0; i < n; ++i) {
    crc ^= p[i];
    for (int k = 0; k < 8; ++k) crc = (crc >> 1) ^ (0xEDB88320u & (0u - (crc & 1)));
  }
  return ~crc;
}

// Platform handles by order of first appearance, so that both sides can be
// compared: h1, h2, ...; 0 stays 0.
std::map<const void*, int> handleNames;
std::string Handle(const void* h) {
  if (!h || !recordPlatform) return "0";
  auto [it, added] = handleNames.emplace(h, static_cast<int>(handleNames.size()) + 1);
  return "h" + std::to_string(it->second);
}

void Platform(const std::string& line) {
  if (recordPlatform) theHost->Record(line);
}

template <class Fn>
Fn Next(const char* name) {
  return reinterpret_cast<Fn>(dlsym(RTLD_NEXT, name));
}

// ---- the pretend dialog ----

struct PretendDialog {
  RECT rect{0, 0, 0, 0};
  std::map<int, bool> checked;
  bool ended = false;
  INT_PTR result = -1;
} dialog;
HWND const kDialog = reinterpret_cast<HWND>(0xD1A1);
HWND const kOwner = reinterpret_cast<HWND>(0x0A1E);

std::string Window(HWND w) {
  if (w == kDialog) return "dialog";
  if (w == kOwner) return "owner";
  return "control" + std::to_string(reinterpret_cast<intptr_t>(w) - 0x10000);
}

}  // namespace

// ---- what the module calls: the dialog's services, and graphics recorded ----

#define ORACLE_API extern "C" __attribute__((visibility("default")))

ORACLE_API BOOL WINAPI GetWindowRect(HWND w, RECT* r) {
  *r = w == kOwner ? RECT{192, 144, 832, 624} : dialog.rect;
  Platform("GetWindowRect " + Window(w) + " -> 1 " + std::to_string(r->left) + "," +
           std::to_string(r->top) + "," + std::to_string(r->right) + "," +
           std::to_string(r->bottom));
  return 1;
}
ORACLE_API HWND WINAPI GetParent(HWND w) {
  Platform("GetParent " + Window(w) + " -> owner");
  return kOwner;
}
ORACLE_API BOOL WINAPI MoveWindow(HWND w, int x, int y, int cx, int cy, BOOL repaint) {
  Platform("MoveWindow " + Window(w) + " " + std::to_string(x) + " " + std::to_string(y) + " " +
           std::to_string(cx) + " " + std::to_string(cy) + " " + std::to_string(repaint) + " -> 1");
  if (w == kDialog) dialog.rect = RECT{x, y, x + cx, y + cy};
  return 1;
}
ORACLE_API BOOL WINAPI CheckRadioButton(HWND w, int first, int last, int id) {
  Platform("CheckRadioButton " + Window(w) + " " + std::to_string(first) + " " +
           std::to_string(last) + " " + std::to_string(id) + " -> 1");
  for (int i = first; i <= last; ++i) dialog.checked[i] = i == id;
  return 1;
}
ORACLE_API UINT WINAPI IsDlgButtonChecked(HWND w, int id) {
  const UINT r = dialog.checked[id] ? 1 : 0;
  Platform("IsDlgButtonChecked " + Window(w) + " " + std::to_string(id) + " -> " +
           std::to_string(r));
  return r;
}
ORACLE_API BOOL WINAPI EndDialog(HWND w, INT_PTR result) {
  Platform("EndDialog " + Window(w) + " " + std::to_string(result) + " -> 1");
  dialog.ended = true;
  dialog.result = result;
  return 1;
}
ORACLE_API HWND WINAPI GetDlgItem(HWND w, int id) {
  Platform("GetDlgItem " + Window(w) + " " + std::to_string(id) + " -> control" +
           std::to_string(id));
  return reinterpret_cast<HWND>(static_cast<intptr_t>(0x10000 + id));
}
ORACLE_API BOOL WINAPI ShowWindow(HWND w, int show) {
  Platform("ShowWindow " + Window(w) + " " + std::to_string(show) + " -> 0");
  return 0;
}

ORACLE_API HGDIOBJ WINAPI SelectObject(HDC dc, HGDIOBJ object) {
  HGDIOBJ r = Next<decltype(&SelectObject)>("SelectObject")(dc, object);
  const std::string names[] = {Handle(dc), Handle(object), Handle(r)};  // in this order
  Platform("SelectObject " + names[0] + " " + names[1] + " -> " + names[2]);
  return r;
}
ORACLE_API HGDIOBJ WINAPI GetStockObject(int which) {
  HGDIOBJ r = Next<decltype(&GetStockObject)>("GetStockObject")(which);
  Platform("GetStockObject " + std::to_string(which) + " -> " + Handle(r));
  return r;
}
ORACLE_API HBITMAP WINAPI LoadBitmapA(HINSTANCE module, LPCSTR name) {
  HBITMAP r = Next<decltype(&LoadBitmapA)>("LoadBitmapA")(module, name);
  Platform("LoadBitmapA module " + std::to_string(reinterpret_cast<uintptr_t>(name)) + " -> " +
           Handle(r));
  return r;
}
ORACLE_API HDC WINAPI CreateCompatibleDC(HDC dc) {
  HDC r = Next<decltype(&CreateCompatibleDC)>("CreateCompatibleDC")(dc);
  const std::string names[] = {Handle(dc), Handle(r)};
  Platform("CreateCompatibleDC " + names[0] + " -> " + names[1]);
  return r;
}
ORACLE_API int WINAPI GetObjectA(HGDIOBJ object, int size, void* out) {
  const int r = Next<decltype(&GetObjectA)>("GetObjectA")(object, size, out);
  const auto* b = static_cast<const BITMAP*>(out);
  // Sizes of the BITMAP record, which holds a pointer, as the 32-bit module has them.
  const auto size32 = [](int n) { return std::to_string(n == sizeof(BITMAP) ? 24 : n); };
  Platform("GetObjectA " + Handle(object) + " " + size32(size) + " -> " + size32(r) + " " +
           std::to_string(b->bmWidth) + "x" + std::to_string(b->bmHeight));
  return r;
}
ORACLE_API BOOL WINAPI StretchBlt(HDC dst, int x, int y, int w, int h, HDC src, int sx, int sy,
                                  int sw, int sh, DWORD rop) {
  const BOOL r =
      Next<decltype(&StretchBlt)>("StretchBlt")(dst, x, y, w, h, src, sx, sy, sw, sh, rop);
  std::ostringstream line;
  line << "StretchBlt " << Handle(dst) << " " << x << " " << y << " " << w << " " << h << " "
       << Handle(src) << " " << sx << " " << sy << " " << sw << " " << sh << " " << rop << " -> "
       << (r != 0);
  Platform(line.str());
  return r;
}
ORACLE_API BOOL WINAPI DeleteDC(HDC dc) {
  const BOOL r = Next<decltype(&DeleteDC)>("DeleteDC")(dc);
  Platform("DeleteDC " + Handle(dc) + " -> " + std::to_string(r != 0));
  return r;
}
ORACLE_API BOOL WINAPI DeleteObject(HGDIOBJ object) {
  const BOOL r = Next<decltype(&DeleteObject)>("DeleteObject")(object);
  Platform("DeleteObject " + Handle(object) + " -> " + std::to_string(r != 0));
  return r;
}

namespace {

void Fill(Surface& s, int index) {
  const size_t n = static_cast<size_t>(s.rowBytes) * static_cast<size_t>(s.height);
  for (size_t i = 0; i < n; ++i)
    s.pixels[i] = static_cast<uint8_t>(i * 31 + index * 101 + (i / 7) * 3);
}

std::string Crc(Surface& s) {
  char text[16];
  std::snprintf(text, sizeof text, "%08x",
                Crc32(s.pixels, static_cast<size_t>(s.rowBytes) * static_cast<size_t>(s.height)));
  return text;
}

void Say(const std::string& line) { std::cout << line << "\n"; }

struct Session {
  Host host;
  bool portable = false;  // the emulated processor has no MMX: nor has the asset
  std::vector<uint8_t> lastMedia;

  // Places the member of registry entry `entry` (or a bare one for -1), as
  // the emulated side does, with the same answer about MMX.
  HResult Place(Member& m, int entry) {
    const HResult rc = entry < 0 ? m.Create(host) : m.Place(host, *host.registry.at(entry));
    if (rc == 0 && portable) AssetFieldsOf(m).cpuFeatures.mmx = 0;
    return rc;
  }

  HResult Save(Member& m, Stream& s) {
    const HResult rc = m.Save(s);
    Say("save " + std::to_string(rc) + " " + Hex(s.bytes.data(), s.bytes.size()));
    return rc;
  }

  void Classes() {
    ClassInterfaceRecord* records = nullptr;
    Say("info " + std::to_string(host.module().GetClassInfo(host.allocator(), &records)));
    std::vector<Guid> classes;
    for (auto* r = records; r && (r->classId.data1 || r->iid.data1); ++r) {
      Say("record " + GuidText(r->classId) + " " + std::to_string(r->classVersion) + " " +
          GuidText(r->iid) + " " + std::to_string(r->iidVersion));
      if (classes.empty() || !SameGuid(classes.back(), r->classId)) classes.push_back(r->classId);
    }
    if (records) host.Free(records);
    classes.push_back(orv::module::kActorInterfaceId);  // no class: refused
    for (const Guid& id : classes) {
      int32_t size = 0;
      InitializeOp init = nullptr;
      TerminateOp term = nullptr;
      const HResult rc = host.module().GetClassForm(&id, &size, &init, &term);
      Say("form " + GuidText(id) + " " + std::to_string(rc) + " " +
          std::to_string(init != nullptr) + std::to_string(term != nullptr));
    }
    Say("unload " + std::to_string(host.module().CanUnloadNow()) + " object " +
        std::to_string(host.module().GetClassObject(nullptr, nullptr, nullptr)));
  }

  void Register(int failEntry, const std::string& failKey) {
    host.registry.clear();
    host.failPutEntry = failEntry;
    host.failPutKey = failKey;
    Say("register " + std::to_string(RegisterTransitions(host)));
    host.failPutEntry = -1;
    for (const auto& d : host.registry) {
      Say("entry " + std::to_string(d->index) + " " + GuidText(d->classId) + " " +
          GuidText(d->iid));
      for (const auto& [key, v] : d->values)
        Say("value " + key + " " + std::to_string(v.type) + " " +
            Hex(v.bytes.data(), v.bytes.size()));
    }
  }

  // Places entry, saves its media, loads `media` into a fresh member of the
  // same entry and saves that again; a stream fault on request.
  void Media(int entry, const std::string& media, const std::string& fault) {
    Member m;
    const HResult placed = Place(m, entry);
    Say("place " + std::to_string(placed) + " size " + std::to_string(m.MediaSize()));
    auto s = host.NewStream();
    HResult code = static_cast<HResult>(0x80040111);
    if (fault == "open") s->failOpen = code;
    if (fault == "write") s->failWrite = code;
    Save(m, *s);
    Member loaded;
    Place(loaded, entry);
    auto in = host.NewStream();
    in->bytes = Unhex(media);
    if (fault == "open") in->failOpen = code;
    if (fault == "read") in->failRead = code;
    Say("load " + std::to_string(loaded.Load(*in)));
    auto out = host.NewStream();
    Save(loaded, *out);
  }

  void Play(std::istringstream& in) {
    int entry, depth, w, h, chunk, duration, step, failAt;
    HostRect rect;
    std::string media;
    in >> entry >> depth >> w >> h >> rect.top >> rect.left >> rect.bottom >> rect.right >> chunk >>
        duration >> step >> media >> failAt;
    auto window = host.NewSurface("window", w, h, depth);
    auto offscreen = host.NewSurface("offscreen", w, h, depth);
    Fill(*window, 0);
    Fill(*offscreen, 1);
    host.failAllocAt = failAt;
    {
      Member m;
      HResult rc = Place(m, entry);
      auto s = host.NewStream();
      s->bytes = Unhex(media);
      if (rc == 0) rc = m.Load(*s);
      Actor actor;
      if (rc == 0) rc = m.MakeActor(actor);
      Say("actor " + std::to_string(rc));
      if (rc == 0) {
        TransitionParams p{chunk, duration, 0, 0};
        rc = actor.Cue(*window, *offscreen, rect, p);
        Say("cue " + std::to_string(rc) + " " + Crc(*window) + " " + Crc(*offscreen));
        for (int32_t done = 0, k = 0; rc == 0 && !done && k < 1000; ++k, p.elapsed += step) {
          rc = actor.Continue(*window, *offscreen, rect, p, &done);
          Say("step " + std::to_string(rc) + " " + std::to_string(done) + " " + Crc(*window) + " " +
              Crc(*offscreen));
        }
        rc = actor.Finish(*window, *offscreen, rect, p);
        Say("finish " + std::to_string(rc) + " " + Crc(*window) + " " + Crc(*offscreen));
      }
    }
    host.failAllocAt = 0;
  }

  // Runs a dialog procedure as a dialog manager would: WM_INITDIALOG with the
  // parameter, then each action of the script until the dialog ends.
  HResult RunDialog(DLGPROC proc, LPARAM param, const std::vector<std::string>& script) {
    dialog = PretendDialog{};
    dialog.rect = RECT{10, 20, 270, 170};
    recordPlatform = true;
    Platform("proc init -> " + std::to_string(proc(kDialog, WM_INITDIALOG, 0, param)));
    for (const std::string& action : script) {
      if (dialog.ended) break;
      const int id = action == "ok" ? 1 : action == "cancel" ? 2 : std::stoi(action);
      if (id >= 1004 && id <= 1010)  // a radio button checks itself first
        for (int i = 1004; i <= 1010; ++i) dialog.checked[i] = i == id;
      Platform("proc command " + std::to_string(id) + " -> " +
               std::to_string(proc(kDialog, WM_COMMAND, static_cast<WPARAM>(id), 0)));
    }
    recordPlatform = false;
    Say("dialog ended " + std::to_string(dialog.ended) + " result " +
        std::to_string(dialog.result));
    return 0;
  }

  void Dialog(const std::string& which, int entry, const std::string& media,
              const std::vector<std::string>& script) {
    Member m;
    Place(m, entry);
    auto in = host.NewStream();
    in->bytes = Unhex(media);
    m.Load(*in);
    host.dialogRunner = [&](HMODULE, int32_t, DLGPROC proc, LPARAM param) {
      return RunDialog(proc, param, script);
    };
    const HResult rc = which == "options" ? m.ops().RunOptions(m.asset) : m.ops().RunAbout(m.asset);
    host.dialogRunner = nullptr;
    Say(which + " " + std::to_string(rc));
    auto out = host.NewStream();
    Save(m, *out);
  }

  void Thumbnail(int depth, int w, int h, const HostRect& rect) {
    auto surface = host.NewSurface("thumbnail", w, h, depth);
    Member m;
    Place(m, -1);
    recordPlatform = true;
    const HResult rc = m.ops().PaintThumbnail(m.asset, surface.get(), &rect);
    recordPlatform = false;
    Say("thumbnail " + std::to_string(rc));
  }
};

}  // namespace

int main(int argc, char** argv) {
  try {
    Session session;
    theHost = &session.host;
    session.portable = argc > 1 && std::strcmp(argv[1], "--portable") == 0;
    std::string line;
    while (std::getline(std::cin, line)) {
      std::istringstream in(line);
      std::string command;
      in >> command;
      Host& host = session.host;
      host.calls.clear();
      handleNames.clear();
      if (command == "classes") {
        session.Classes();
      } else if (command == "register") {
        int entry;
        std::string key;
        in >> entry >> key;
        session.Register(entry, key);
      } else if (command == "media") {
        int entry;
        std::string media, fault;
        in >> entry >> media >> fault;
        session.Media(entry, media, fault);
      } else if (command == "play") {
        session.Play(in);
      } else if (command == "options" || command == "about") {
        int entry;
        std::string media, action;
        in >> entry >> media;
        std::vector<std::string> script;
        while (in >> action) script.push_back(action);
        session.Dialog(command, entry, media, script);
      } else if (command == "thumbnail") {
        int depth, w, h;
        HostRect r;
        in >> depth >> w >> h >> r.top >> r.left >> r.bottom >> r.right;
        session.Thumbnail(depth, w, h, r);
      } else {
        std::cerr << "pe32_oracle: unknown command '" << command << "'\n";
        return 2;
      }
      for (const std::string& call : host.calls)
        Say("call " +
            (call == "Alloc " + std::to_string(sizeof(InterfaceObject)) ? "Alloc object" : call));
      Say("live " + std::to_string(host.liveBlocks()) + " " + std::to_string(host.liveInstances()) +
          " " + std::to_string(host.utilitiesAlive) + " " +
          std::to_string(host.openResourceBrackets));
      Say("end");
      std::cout.flush();
    }
  } catch (const std::exception& e) {
    std::cerr << "pe32_oracle: " << e.what() << "\n";
    return 1;
  }
  return 0;
}
