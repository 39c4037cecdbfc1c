// The stand-in's window registry, shared by its dialog calls (dialogs.cpp)
// and its drawing of the screen (dialog_draw.cpp): every window and control,
// by handle, with what the calls and the drawing need to know of it.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "platform/standin/gdi_draw.h"
#include "platform/standin/ui.h"

namespace orv::standin {

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

// Every window alive, by handle; null for an unknown one.
Window* Find(HWND handle);
// The top-level windows, in the order they were made.
const std::vector<HWND>& TopLevelWindows();

// A window's client-area offsets inside its frame.
int32_t FrameTop(const Window& w);
int32_t FrameSide(const Window& w);
// The screen position of a window's client area.
Point ClientOrigin(const Window& w);
// A window's rectangle on the screen.
RECT ScreenRect(const Window& w);

}  // namespace orv::standin
