// The stand-in's windows and modal dialogs: the window registry and the calls
// that make, drive and ask about windows, as ui.h and the system declare them.
#include <algorithm>
#include <cstring>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "platform/standin/dialog_template.h"
#include "platform/standin/window_registry.h"

namespace orv::standin {

namespace {

// Dialog base units of the 8-point system font: 6 x 13 pixels.
constexpr int32_t kBaseUnitX = 6;
constexpr int32_t kBaseUnitY = 13;

struct Windows {
  std::map<HWND, std::unique_ptr<Window>> byHandle;
  std::vector<HWND> topLevel;  // in creation order
  uintptr_t next = 0x10000;
};

// Never destroyed, like the resource tables: windows may outlive static
// destruction in a program that exits with a dialog open.
Windows& All() {
  static auto& all = *new Windows;
  return all;
}

Window* FindDialog(HWND handle) {
  Window* w = Find(handle);
  return w && w->kind == Kind::kDialog ? w : nullptr;
}

Window* NewWindow(Kind kind) {
  auto w = std::make_unique<Window>();
  Windows& all = All();
  w->handle = reinterpret_cast<HWND>(all.next);
  all.next += 4;
  w->kind = kind;
  Window* raw = w.get();
  all.byHandle[raw->handle] = std::move(w);
  if (raw->IsTopLevel()) all.topLevel.push_back(raw->handle);
  return raw;
}

// The system's MulDiv: a * b / c rounded to the nearest, halves away from 0.
int32_t MulDiv(int32_t a, int32_t b, int32_t c) {
  const int64_t p = static_cast<int64_t>(a) * b;
  const int64_t half = c / 2;
  return static_cast<int32_t>(p >= 0 ? (p + half) / c : -((-p + half) / c));
}

int32_t UnitsToPixelsX(int32_t units) { return MulDiv(units, kBaseUnitX, 4); }
int32_t UnitsToPixelsY(int32_t units) { return MulDiv(units, kBaseUnitY, 8); }

}  // namespace

Window* Find(HWND handle) {
  auto& map = All().byHandle;
  auto it = map.find(handle);
  return it == map.end() ? nullptr : it->second.get();
}

const std::vector<HWND>& TopLevelWindows() { return All().topLevel; }

int32_t FrameTop(const Window& w) {
  return w.kind == Kind::kDialog
             ? kDialogFrame + ((w.style & WS_CAPTION) == WS_CAPTION ? kDialogCaption : 0)
             : 0;
}
int32_t FrameSide(const Window& w) { return w.kind == Kind::kDialog ? kDialogFrame : 0; }

// The screen position of a window's client area.
Point ClientOrigin(const Window& w) {
  return {w.rect.left + FrameSide(w), w.rect.top + FrameTop(w)};
}

RECT ScreenRect(const Window& w) {
  if (w.IsTopLevel()) return w.rect;
  const Window* parent = Find(w.parent);
  const Point o = parent ? ClientOrigin(*parent) : Point{0, 0};
  return {w.rect.left + o.x, w.rect.top + o.y, w.rect.right + o.x, w.rect.bottom + o.y};
}

namespace {

INT_PTR Send(Window& dialog, UINT message, WPARAM wParam, LPARAM lParam) {
  return dialog.proc ? dialog.proc(dialog.handle, message, wParam, lParam) : 0;
}

WPARAM CommandWord(int32_t id, WORD notification) {
  return static_cast<WPARAM>((static_cast<uint32_t>(notification) << 16) |
                             static_cast<uint16_t>(id));
}

LPARAM HandleParam(HWND handle) { return reinterpret_cast<LPARAM>(handle); }

Window* ControlOf(Window& dialog, int32_t id) {
  for (HWND h : dialog.controls) {
    Window* c = Find(h);
    if (c && c->id == id) return c;
  }
  return nullptr;
}

// The controls of the group that index belongs to: from the nearest control
// at or before it that starts a group (or the first) to the next one.
std::pair<size_t, size_t> GroupOf(const Window& dialog, size_t index) {
  size_t first = index;
  while (first > 0 && !(Find(dialog.controls[first])->style & WS_GROUP)) --first;
  size_t end = index + 1;
  while (end < dialog.controls.size() && !(Find(dialog.controls[end])->style & WS_GROUP)) ++end;
  return {first, end};
}

void Command(Window& dialog, int32_t id) {
  Window* control = ControlOf(dialog, id);
  Send(dialog, WM_COMMAND, CommandWord(id, BN_CLICKED),
       HandleParam(control ? control->handle : nullptr));
}

void DestroyOne(HWND handle) {
  Windows& all = All();
  all.topLevel.erase(std::remove(all.topLevel.begin(), all.topLevel.end(), handle),
                     all.topLevel.end());
  all.byHandle.erase(handle);
}

}  // namespace

}  // namespace orv::standin

using namespace orv::standin;

// ---- the stand-in's own calls ----

ORV_PLATFORM_API HWND OrvCreateTopWindow(const RECT* rect, LPCSTR title) {
  if (!rect) return nullptr;
  Window* w = NewWindow(Kind::kTop);
  w->rect = *rect;
  w->text = title ? title : "";
  w->visible = true;
  return w->handle;
}

ORV_PLATFORM_API HWND OrvCreateDialog(HMODULE module, LPCSTR name, HWND owner, DLGPROC proc,
                                      LPARAM param) {
  DialogTemplate t;
  if (!LoadTemplate(module, name, &t)) return nullptr;
  const Window* ownerWindow = Find(owner);

  Window* d = NewWindow(Kind::kDialog);
  d->parent = ownerWindow ? owner : nullptr;
  d->style = t.style;
  d->text = t.caption;
  d->proc = proc;
  const int32_t width = UnitsToPixelsX(t.cx) + 2 * kDialogFrame;
  const int32_t height = UnitsToPixelsY(t.cy) + FrameTop(*d) + kDialogFrame;
  Point at{UnitsToPixelsX(t.x), UnitsToPixelsY(t.y)};
  if (t.style & DS_CENTER) {
    at = {kScreenRect.left + (kScreenRect.right - kScreenRect.left - width) / 2,
          kScreenRect.top + (kScreenRect.bottom - kScreenRect.top - height) / 2};
  } else if (ownerWindow) {
    const Point o = ClientOrigin(*ownerWindow);
    at = {at.x + o.x, at.y + o.y};
  }
  d->rect = {at.x, at.y, at.x + width, at.y + height};

  HWND firstTabStop = nullptr;
  for (const ItemTemplate& item : t.items) {
    Window* c = NewWindow(item.kind);
    c->parent = d->handle;
    c->id = static_cast<int16_t>(item.id);  // 65535 reads back as -1, as on the system
    c->style = item.style;
    c->text = item.text;
    c->visible = (item.style & WS_VISIBLE) != 0;
    const int32_t left = UnitsToPixelsX(item.x), top = UnitsToPixelsY(item.y);
    c->rect = {left, top, left + UnitsToPixelsX(item.cx), top + UnitsToPixelsY(item.cy)};
    if (c->IsPicture()) {
      const LPCSTR picture = item.ordinal >= 0 ? MAKEINTRESOURCEA(item.ordinal) : c->text.c_str();
      // A picture control takes its bitmap's size unless told otherwise.
      if (orv::standin::LoadPicture(module, picture, &c->picture) &&
          !(item.style & SS_REALSIZECONTROL)) {
        c->rect.right = left + c->picture.width;
        c->rect.bottom = top + c->picture.height;
      }
    }
    if (!firstTabStop && c->visible && (c->style & WS_TABSTOP)) firstTabStop = c->handle;
    d->controls.push_back(c->handle);
  }
  const HWND handle = d->handle;
  Send(*d, WM_INITDIALOG, reinterpret_cast<WPARAM>(firstTabStop), param);
  // The procedure may have done anything, even destroyed the dialog.
  if (Window* again = Find(handle)) again->visible = true;
  return handle;
}

ORV_PLATFORM_API BOOL OrvDestroyWindow(HWND window) {
  Window* w = Find(window);
  if (!w) return FALSE;
  // Dialogs it owns go first, then its controls, then itself.
  std::vector<HWND> owned;
  for (HWND h : All().topLevel)
    if (Find(h)->parent == window) owned.push_back(h);
  for (HWND h : owned) OrvDestroyWindow(h);
  for (HWND h : w->controls) DestroyOne(h);
  DestroyOne(window);
  return TRUE;
}

ORV_PLATFORM_API int32_t OrvLiveWindows() { return static_cast<int32_t>(All().byHandle.size()); }

ORV_PLATFORM_API BOOL OrvDialogEnded(HWND dialog, INT_PTR* result) {
  const Window* d = FindDialog(dialog);
  if (!d || !d->ended) return FALSE;
  if (result) *result = d->result;
  return TRUE;
}

ORV_PLATFORM_API BOOL OrvClickControl(HWND dialog, int id) {
  Window* d = FindDialog(dialog);
  if (!d || d->ended) return FALSE;
  for (size_t i = 0; i < d->controls.size(); ++i) {
    Window* c = Find(d->controls[i]);
    if (c->id != id) continue;
    if (!c->visible || c->kind != Kind::kButton || c->ButtonType() == BS_GROUPBOX) return FALSE;
    if (c->ButtonType() == BS_AUTORADIOBUTTON) {
      const auto [first, end] = GroupOf(*d, i);
      for (size_t k = first; k < end; ++k) {
        Window* other = Find(d->controls[k]);
        if (other->IsRadio()) other->checked = (k == i);
      }
    }
    Send(*d, WM_COMMAND, CommandWord(id, BN_CLICKED), HandleParam(c->handle));
    return TRUE;
  }
  return FALSE;
}

ORV_PLATFORM_API BOOL OrvPressKey(HWND dialog, int key) {
  Window* d = FindDialog(dialog);
  if (!d || d->ended) return FALSE;
  if (key == VK_RETURN) {
    int32_t id = IDOK;
    for (HWND h : d->controls) {
      const Window* c = Find(h);
      if (c->kind == Kind::kButton && c->ButtonType() == BS_DEFPUSHBUTTON) {
        id = c->id;
        break;
      }
    }
    Command(*d, id);
    return TRUE;
  }
  if (key == VK_ESCAPE) {
    Command(*d, IDCANCEL);
    return TRUE;
  }
  return FALSE;
}

ORV_PLATFORM_API BOOL OrvCloseBox(HWND dialog) {
  Window* d = FindDialog(dialog);
  if (!d || d->ended) return FALSE;
  const HWND handle = d->handle;
  if (Send(*d, WM_CLOSE, 0, 0) == 0) {
    if (Window* again = FindDialog(handle)) Command(*again, IDCANCEL);
  }
  return TRUE;
}

// ---- the system's calls ----

ORV_PLATFORM_API BOOL WINAPI GetWindowRect(HWND window, RECT* rect) {
  const Window* w = Find(window);
  if (!w || !rect) return FALSE;
  *rect = ScreenRect(*w);
  return TRUE;
}

ORV_PLATFORM_API BOOL WINAPI GetClientRect(HWND window, RECT* rect) {
  const Window* w = Find(window);
  if (!w || !rect) return FALSE;
  *rect = {0, 0, w->rect.right - w->rect.left - 2 * FrameSide(*w),
           w->rect.bottom - w->rect.top - FrameTop(*w) - FrameSide(*w)};
  return TRUE;
}

ORV_PLATFORM_API HWND WINAPI GetParent(HWND window) {
  const Window* w = Find(window);
  return w ? w->parent : nullptr;
}

ORV_PLATFORM_API BOOL WINAPI MoveWindow(HWND window, int x, int y, int w, int h, BOOL) {
  Window* win = Find(window);
  if (!win) return FALSE;
  win->rect = {x, y, x + w, y + h};
  return TRUE;
}

ORV_PLATFORM_API BOOL WINAPI CheckRadioButton(HWND dialog, int first, int last, int check) {
  Window* d = FindDialog(dialog);
  if (!d) return FALSE;
  for (HWND h : d->controls) {
    Window* c = Find(h);
    if (c->kind == Kind::kButton && c->id >= first && c->id <= last) c->checked = (c->id == check);
  }
  return TRUE;
}

ORV_PLATFORM_API UINT WINAPI IsDlgButtonChecked(HWND dialog, int id) {
  Window* d = FindDialog(dialog);
  const Window* c = d ? ControlOf(*d, id) : nullptr;
  return c && c->kind == Kind::kButton && c->checked ? BST_CHECKED : 0;
}

ORV_PLATFORM_API BOOL WINAPI EndDialog(HWND dialog, INT_PTR result) {
  Window* d = FindDialog(dialog);
  if (!d) return FALSE;
  d->ended = true;
  d->result = result;
  return TRUE;
}

ORV_PLATFORM_API HWND WINAPI GetDlgItem(HWND dialog, int id) {
  Window* d = FindDialog(dialog);
  const Window* c = d ? ControlOf(*d, id) : nullptr;
  return c ? c->handle : nullptr;
}

ORV_PLATFORM_API BOOL WINAPI ShowWindow(HWND window, int command) {
  Window* w = Find(window);
  if (!w) return FALSE;
  const BOOL wasVisible = w->visible ? TRUE : FALSE;
  w->visible = command != SW_HIDE;
  return wasVisible;
}

ORV_PLATFORM_API BOOL WINAPI IsWindowVisible(HWND window) {
  const Window* w = Find(window);
  if (!w || !w->visible) return FALSE;
  // Visible only when every window above it is too.
  return w->IsTopLevel() ? TRUE : IsWindowVisible(w->parent);
}

ORV_PLATFORM_API int WINAPI GetWindowTextA(HWND window, LPSTR text, int size) {
  const Window* w = Find(window);
  if (!text || size <= 0) return 0;
  text[0] = 0;
  if (!w) return 0;
  const size_t n = std::min(w->text.size(), static_cast<size_t>(size - 1));
  std::memcpy(text, w->text.data(), n);
  text[n] = 0;
  return static_cast<int>(n);
}

ORV_PLATFORM_API int WINAPI GetDlgCtrlID(HWND window) {
  const Window* w = Find(window);
  return w && !w->IsTopLevel() ? w->id : 0;
}

ORV_PLATFORM_API LONG WINAPI GetWindowLongA(HWND window, int index) {
  const Window* w = Find(window);
  return w && index == GWL_STYLE ? static_cast<LONG>(w->style) : 0;
}

ORV_PLATFORM_API HWND WINAPI GetWindow(HWND window, UINT relation) {
  const Window* w = Find(window);
  if (!w) return nullptr;
  if (relation == GW_CHILD) return w->controls.empty() ? nullptr : w->controls.front();
  if (relation != GW_HWNDNEXT || w->IsTopLevel()) return nullptr;
  const Window* d = Find(w->parent);
  auto it = std::find(d->controls.begin(), d->controls.end(), window);
  return it == d->controls.end() || it + 1 == d->controls.end() ? nullptr : *(it + 1);
}
