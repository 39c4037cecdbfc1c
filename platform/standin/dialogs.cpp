// The stand-in's windows and modal dialogs: built from a module's dialog
// templates, driven by the user actions of ui.h, drawn flat for a person to
// look at.
#include <strings.h>

#include <algorithm>
#include <cstring>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "platform/standin/gdi_draw.h"
#include "platform/standin/tiny_font.h"
#include "platform/standin/ui.h"

namespace {

using orv::standin::Picture;

// Styles the stand-in acts on.
constexpr DWORD WS_VISIBLE = 0x10000000;
constexpr DWORD WS_CAPTION = 0x00C00000;
constexpr DWORD WS_GROUP = 0x00020000;
constexpr DWORD WS_TABSTOP = 0x00010000;
constexpr DWORD DS_SETFONT = 0x40;
constexpr DWORD DS_CENTER = 0x800;
constexpr DWORD BS_TYPEMASK = 0xF;
constexpr DWORD BS_DEFPUSHBUTTON = 0x1;
constexpr DWORD BS_RADIOBUTTON = 0x4;
constexpr DWORD BS_GROUPBOX = 0x7;
constexpr DWORD BS_AUTORADIOBUTTON = 0x9;
constexpr DWORD SS_TYPEMASK = 0x1F;
constexpr DWORD SS_BITMAP = 0xE;
constexpr DWORD SS_REALSIZECONTROL = 0x40;
constexpr WORD BN_CLICKED = 0;

// Dialog base units of the 8-point system font: 6 x 13 pixels.
constexpr int32_t kBaseUnitX = 6;
constexpr int32_t kBaseUnitY = 13;
constexpr int32_t kLineHeight = 13;

enum class Kind { kTop, kDialog, kButton, kStatic, kOther };

struct Point {
  int32_t x, y;
};

struct Window {
  HWND handle = nullptr;
  Kind kind = Kind::kOther;
  HWND parent = nullptr;  // a control's dialog, a dialog's owner
  int32_t id = 0;
  DWORD style = 0;
  std::string text;
  RECT rect{};  // top-level: screen; control: its dialog's client area
  bool visible = false;
  bool checked = false;
  Picture picture;  // a static picture's bitmap
  // Dialogs only.
  DLGPROC proc = nullptr;
  std::vector<HWND> controls;  // in template order
  bool ended = false;
  INT_PTR result = 0;

  bool IsTopLevel() const { return kind == Kind::kTop || kind == Kind::kDialog; }
  DWORD ButtonType() const { return style & BS_TYPEMASK; }
  bool IsRadio() const {
    return kind == Kind::kButton &&
           (ButtonType() == BS_AUTORADIOBUTTON || ButtonType() == BS_RADIOBUTTON);
  }
  bool IsPicture() const { return kind == Kind::kStatic && (style & SS_TYPEMASK) == SS_BITMAP; }
};

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

Window* Find(HWND handle) {
  auto& map = All().byHandle;
  auto it = map.find(handle);
  return it == map.end() ? nullptr : it->second.get();
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

// ---- dialog templates ----

struct ItemTemplate {
  DWORD style = 0;
  int16_t x = 0, y = 0, cx = 0, cy = 0;
  WORD id = 0;
  Kind kind = Kind::kOther;
  std::string text;
  int32_t ordinal = -1;  // text given as a resource number (static pictures)
};

struct DialogTemplate {
  DWORD style = 0;
  int16_t x = 0, y = 0, cx = 0, cy = 0;
  std::string caption;
  std::vector<ItemTemplate> items;
};

// Reads a template with bounds checks; any overrun makes it malformed.
class TemplateReader {
 public:
  TemplateReader(const uint8_t* data, size_t size) : data_(data), size_(size) {}

  bool ok() const { return ok_; }
  size_t position() const { return pos_; }

  template <class T>
  T Read() {
    T value{};
    if (pos_ + sizeof(T) > size_) {
      ok_ = false;
      return value;
    }
    std::memcpy(&value, data_ + pos_, sizeof(T));
    pos_ += sizeof(T);
    return value;
  }

  void AlignTo4() { pos_ = (pos_ + 3) & ~size_t{3}; }
  void Skip(size_t n) {
    if (pos_ + n > size_) ok_ = false;
    pos_ += n;
  }

  // A zero-terminated UTF-16 string, as narrow text ('?' beyond ASCII).
  std::string String() {
    std::string text;
    for (;;) {
      const WORD c = Read<WORD>();
      if (!ok_ || c == 0) return text;
      text.push_back(c < 0x80 ? static_cast<char>(c) : '?');
    }
  }

  // A name or a number: 0 (none), 0xFFFF then the number, or a string.
  void NameOrNumber(std::string* name, int32_t* number) {
    const WORD first = Read<WORD>();
    if (first == 0xFFFF) {
      *number = Read<WORD>();
    } else if (first != 0) {
      pos_ -= sizeof(WORD);
      *name = String();
    }
  }

 private:
  const uint8_t* data_;
  size_t size_;
  size_t pos_ = 0;
  bool ok_ = true;
};

Kind KindOfClass(const std::string& name, int32_t atom) {
  if (atom == 0x80 || strcasecmp(name.c_str(), "Button") == 0) return Kind::kButton;
  if (atom == 0x82 || strcasecmp(name.c_str(), "Static") == 0) return Kind::kStatic;
  return Kind::kOther;
}

bool ParseTemplate(const uint8_t* data, size_t size, DialogTemplate* out) {
  TemplateReader r(data, size);
  DialogTemplate t;
  t.style = r.Read<DWORD>();
  if (t.style == 0xFFFF0001) return false;  // the extended form is not used here
  r.Read<DWORD>();                          // extended style
  const WORD count = r.Read<WORD>();
  t.x = r.Read<int16_t>();
  t.y = r.Read<int16_t>();
  t.cx = r.Read<int16_t>();
  t.cy = r.Read<int16_t>();
  std::string name;
  int32_t number = -1;
  r.NameOrNumber(&name, &number);  // menu
  r.NameOrNumber(&name, &number);  // dialog class
  t.caption = r.String();
  if (t.style & DS_SETFONT) {
    r.Read<WORD>();  // point size
    r.String();      // face
  }
  for (WORD i = 0; i < count && r.ok(); ++i) {
    r.AlignTo4();
    ItemTemplate item;
    item.style = r.Read<DWORD>();
    r.Read<DWORD>();  // extended style
    item.x = r.Read<int16_t>();
    item.y = r.Read<int16_t>();
    item.cx = r.Read<int16_t>();
    item.cy = r.Read<int16_t>();
    item.id = r.Read<WORD>();
    std::string className;
    int32_t atom = -1;
    r.NameOrNumber(&className, &atom);
    item.kind = KindOfClass(className, atom);
    r.NameOrNumber(&item.text, &item.ordinal);
    r.Skip(r.Read<WORD>());  // creation data
    t.items.push_back(std::move(item));
  }
  if (!r.ok()) return false;
  *out = std::move(t);
  return true;
}

bool LoadTemplate(HMODULE module, LPCSTR name, DialogTemplate* out) {
  HRSRC found = FindResourceA(module, name, RT_DIALOG);
  if (!found) return false;
  HGLOBAL loaded = LoadResource(module, found);
  const void* data = loaded ? LockResource(loaded) : nullptr;
  const bool ok =
      data && ParseTemplate(static_cast<const uint8_t*>(data), SizeofResource(module, found), out);
  if (loaded) FreeResource(loaded);
  return ok;
}

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

// ---- drawing ----

constexpr uint32_t kDesktop = 0x008080;
constexpr uint32_t kStage = 0x303848;
constexpr uint32_t kStageText = 0xA0A8B8;
constexpr uint32_t kFace = 0xC0C0C0;
constexpr uint32_t kLight = 0xFFFFFF;
constexpr uint32_t kShadow = 0x808080;
constexpr uint32_t kDark = 0x000000;
constexpr uint32_t kCaption = 0x000080;
constexpr uint32_t kCaptionText = 0xFFFFFF;
constexpr uint32_t kText = 0x000000;

class Canvas {
 public:
  Canvas(const RECT& area, uint32_t* pixels, int32_t stride)
      : area_(area), clip_(area), pixels_(pixels), stride_(stride) {}

  void SetClip(const RECT& r) {
    clip_ = {std::max(r.left, area_.left), std::max(r.top, area_.top),
             std::min(r.right, area_.right), std::min(r.bottom, area_.bottom)};
  }
  void Plot(int32_t x, int32_t y, uint32_t colour) {
    if (x < clip_.left || x >= clip_.right || y < clip_.top || y >= clip_.bottom) return;
    pixels_[static_cast<size_t>(y - area_.top) * static_cast<size_t>(stride_) +
            static_cast<size_t>(x - area_.left)] = colour;
  }
  void Fill(const RECT& r, uint32_t colour) {
    for (int32_t y = r.top; y < r.bottom; ++y)
      for (int32_t x = r.left; x < r.right; ++x) Plot(x, y, colour);
  }
  void HLine(int32_t x0, int32_t x1, int32_t y, uint32_t colour) {
    for (int32_t x = x0; x < x1; ++x) Plot(x, y, colour);
  }
  void VLine(int32_t x, int32_t y0, int32_t y1, uint32_t colour) {
    for (int32_t y = y0; y < y1; ++y) Plot(x, y, colour);
  }
  // A one-pixel edge: top and left in one colour, bottom and right in another.
  void Edge(const RECT& r, uint32_t topLeft, uint32_t bottomRight) {
    HLine(r.left, r.right - 1, r.top, topLeft);
    VLine(r.left, r.top, r.bottom - 1, topLeft);
    HLine(r.left, r.right, r.bottom - 1, bottomRight);
    VLine(r.right - 1, r.top, r.bottom, bottomRight);
  }
  void Text(std::string_view text, int32_t x, int32_t y, uint32_t colour) {
    orv::standin::DrawText(text, x, y, [&](int32_t px, int32_t py) { Plot(px, py, colour); });
  }

 private:
  RECT area_;
  RECT clip_;
  uint32_t* pixels_;
  int32_t stride_;
};

RECT Inset(const RECT& r, int32_t n) { return {r.left + n, r.top + n, r.right - n, r.bottom - n}; }

// The raised edge of a window frame or button: light outside top-left, dark
// outside bottom-right, then a second, softer pair inside.
void Raised(Canvas& c, const RECT& r) {
  c.Edge(r, kFace, kDark);
  c.Edge(Inset(r, 1), kLight, kShadow);
}

// Lines of text broken at '\n' and, past width, between words.
std::vector<std::string> WrapText(const std::string& text, int32_t width) {
  std::vector<std::string> lines;
  size_t start = 0;
  for (;;) {
    const size_t end = text.find('\n', start);
    std::string paragraph = text.substr(start, end == std::string::npos ? end : end - start);
    if (!paragraph.empty() && paragraph.back() == '\r') paragraph.pop_back();
    std::string line;
    size_t pos = 0;
    while (pos <= paragraph.size()) {
      size_t next = paragraph.find(' ', pos);
      if (next == std::string::npos) next = paragraph.size();
      const std::string word = paragraph.substr(pos, next - pos);
      const std::string candidate = line.empty() ? word : line + " " + word;
      if (!line.empty() && orv::standin::TextWidth(candidate) > width) {
        lines.push_back(line);
        line = word;
      } else {
        line = candidate;
      }
      pos = next + 1;
    }
    lines.push_back(line);
    if (end == std::string::npos) return lines;
    start = end + 1;
  }
}

// Glyphs sit 3 pixels below the top of a 13-pixel line.
int32_t GlyphTop(int32_t lineTop) { return lineTop + 3; }

void DrawButton(Canvas& c, const Window& w, const RECT& r) {
  const int32_t midY = (r.top + r.bottom) / 2;
  switch (w.ButtonType()) {
    case BS_GROUPBOX: {
      const int32_t lineY = r.top + kLineHeight / 2;
      const RECT frame{r.left, lineY, r.right, r.bottom};
      c.Edge(frame, kShadow, kLight);
      c.Edge(Inset(frame, 1), kLight, kShadow);
      const int32_t textWidth = orv::standin::TextWidth(w.text);
      c.Fill({r.left + 6, r.top, r.left + 10 + textWidth, r.top + kLineHeight}, kFace);
      c.Text(w.text, r.left + 8, GlyphTop(r.top), kText);
      return;
    }
    case BS_AUTORADIOBUTTON:
    case BS_RADIOBUTTON: {
      // A 12-pixel circle: dark rim, white inside, a black dot when checked.
      const int32_t cx = r.left + 6, cy = midY;
      for (int32_t y = -6; y < 6; ++y)
        for (int32_t x = -6; x < 6; ++x) {
          const int32_t d2 = (2 * x + 1) * (2 * x + 1) + (2 * y + 1) * (2 * y + 1);
          if (d2 < 100) {
            c.Plot(cx + x, cy + y, kLight);
          } else if (d2 < 144) {
            c.Plot(cx + x, cy + y, (x + y < 0) ? kShadow : kDark);
          }
          if (w.checked && d2 < 30) c.Plot(cx + x, cy + y, kDark);
        }
      c.Text(w.text, r.left + 16, midY - 4, kText);
      return;
    }
    default: {
      c.Fill(r, kFace);
      RECT bevel = r;
      if (w.ButtonType() == BS_DEFPUSHBUTTON) {
        c.Edge(r, kDark, kDark);
        bevel = Inset(r, 1);
      }
      Raised(c, bevel);
      const int32_t textWidth = orv::standin::TextWidth(w.text);
      c.Text(w.text, (r.left + r.right - textWidth) / 2, midY - 4, kText);
      return;
    }
  }
}

void DrawStatic(Canvas& c, const Window& w, const RECT& r) {
  if (w.IsPicture()) {
    for (int32_t y = 0; y < w.picture.height; ++y)
      for (int32_t x = 0; x < w.picture.width; ++x)
        c.Plot(r.left + x, r.top + y,
               w.picture.pixels[static_cast<size_t>(y) * static_cast<size_t>(w.picture.width) +
                                static_cast<size_t>(x)]);
    return;
  }
  int32_t top = r.top;
  for (const std::string& line : WrapText(w.text, r.right - r.left)) {
    c.Text(line, r.left, GlyphTop(top), kText);
    top += kLineHeight;
  }
}

void DrawDialog(Canvas& c, const Window& d) {
  const RECT r = d.rect;
  c.Fill(r, kFace);
  Raised(c, r);
  if ((d.style & WS_CAPTION) == WS_CAPTION) {
    const RECT bar{r.left + kDialogFrame, r.top + kDialogFrame, r.right - kDialogFrame,
                   r.top + kDialogFrame + kDialogCaption - 1};
    c.Fill(bar, kCaption);
    c.Text(d.text, bar.left + 4, bar.top + 5, kCaptionText);
    // The close box, with its cross.
    const RECT box{bar.right - 18, bar.top + 2, bar.right - 2, bar.bottom - 2};
    c.Fill(box, kFace);
    Raised(c, box);
    const int32_t bx = box.left + 4, by = box.top + 3;
    for (int32_t i = 0; i < 7; ++i) {
      c.Plot(bx + i, by + i, kDark);
      c.Plot(bx + i + 1, by + i, kDark);
      c.Plot(bx + 6 - i, by + i, kDark);
      c.Plot(bx + 7 - i, by + i, kDark);
    }
  }
  for (HWND h : d.controls) {
    const Window* w = Find(h);
    if (!w || !w->visible) continue;
    const RECT cr = ScreenRect(*w);
    c.SetClip(cr);
    if (w->kind == Kind::kButton) DrawButton(c, *w, cr);
    if (w->kind == Kind::kStatic) DrawStatic(c, *w, cr);
  }
}

void DestroyOne(HWND handle) {
  Windows& all = All();
  all.topLevel.erase(std::remove(all.topLevel.begin(), all.topLevel.end(), handle),
                     all.topLevel.end());
  all.byHandle.erase(handle);
}

}  // namespace

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

ORV_PLATFORM_API BOOL OrvRenderScreen(const RECT* area, uint32_t* pixels, int32_t stride) {
  if (!area || !pixels || area->right <= area->left || area->bottom <= area->top) return FALSE;
  Canvas canvas(*area, pixels, stride);
  canvas.Fill(*area, kDesktop);
  for (HWND h : All().topLevel) {
    const Window* w = Find(h);
    if (!w->visible) continue;
    canvas.SetClip(w->rect);
    if (w->kind == Kind::kTop) {
      canvas.Fill(w->rect, kStage);
      canvas.Text(w->text, w->rect.left + 4, w->rect.top + 4, kStageText);
    } else {
      DrawDialog(canvas, *w);
    }
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
