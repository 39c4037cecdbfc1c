// The native side of the pe32 and wine32 legs: the module built for this
// machine, driven through the stand-in host by the commands tests/pe32/pe32.py
// and wine32.py send on standard input (session.h). They play the same
// commands on the 32-bit Windows module, in an emulator or under Wine, and
// want the same lines.
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
#include "tests/pe32/session.h"
#include "tests/support/asset_peek.h"

using namespace orv::module;

using namespace orvhost;
using orvpe32::Say;
using orvpe32::Unhex;

namespace {

Host* theHost = nullptr;
bool recordPlatform = false;

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

// The dialogs and the thumbnail, which only the native side can answer
// alike: the emulated DLL's Win32 shim records the same platform calls.
struct DialogSession {
  orvpe32::Session& session;
  Host& host = session.host;

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
    session.Place(m, entry);
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
    session.Save(m, *out);
  }

  void Thumbnail(int depth, int w, int h, const HostRect& rect) {
    auto surface = host.NewSurface("thumbnail", w, h, depth);
    Member m;
    session.Place(m, -1);
    recordPlatform = true;
    const HResult rc = m.ops().PaintThumbnail(m.asset, surface.get(), &rect);
    recordPlatform = false;
    Say("thumbnail " + std::to_string(rc));
  }
};

}  // namespace

int main(int argc, char** argv) {
  try {
    orvpe32::Session session;
    theHost = &session.host;
    session.portable = argc > 1 && std::strcmp(argv[1], "--portable") == 0;
    DialogSession dialogs{session};
    return orvpe32::Serve(
        session, "pe32_oracle",
        [&](const std::string& command, std::istringstream& in) {
          if (command == "options" || command == "about") {
            int entry;
            std::string media, action;
            in >> entry >> media;
            std::vector<std::string> script;
            while (in >> action) script.push_back(action);
            dialogs.Dialog(command, entry, media, script);
          } else if (command == "thumbnail") {
            int depth, w, h;
            HostRect r;
            in >> depth >> w >> h >> r.top >> r.left >> r.bottom >> r.right;
            dialogs.Thumbnail(depth, w, h, r);
          } else {
            return false;
          }
          return true;
        },
        [] { handleNames.clear(); });
  } catch (const std::exception& e) {
    std::cerr << "pe32_oracle: " << e.what() << "\n";
    return 1;
  }
}
