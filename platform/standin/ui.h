// The stand-in's windows: a plain top-level window (the host's stage, which
// owns the dialogs) and modal dialogs built from a module's dialog templates.
// What a person does to a dialog (a click, Enter, Escape, the close box)
// reaches its procedure as the messages the system would send, so a test or
// the stand-in host can drive a dialog by script and then draw the screen.
#pragma once

#include <cstdint>

#include "platform/win32.h"

#if !defined(_WIN32)

#ifndef TRUE
#define TRUE 1
#define FALSE 0
#endif

constexpr UINT WM_CLOSE = 0x0010;
constexpr int VK_RETURN = 0x0D;
constexpr int VK_ESCAPE = 0x1B;
constexpr int GWL_STYLE = -16;
constexpr int GW_HWNDNEXT = 2;
constexpr int GW_CHILD = 5;
constexpr int IDOK = 1;
constexpr int IDCANCEL = 2;

// Dialog frame in pixels: the modal frame on every side and the caption.
constexpr int32_t kDialogFrame = 3;
constexpr int32_t kDialogCaption = 18;
// The screen a DS_CENTER dialog centres on.
constexpr RECT kScreenRect = {0, 0, 1024, 768};

// A top-level window covering rect (screen coordinates), without a frame.
ORV_PLATFORM_API HWND OrvCreateTopWindow(const RECT* rect, LPCSTR title);
// Builds the dialog of template name in module, owned by owner, positions it
// (template position from the owner's corner, or centred on the screen for
// DS_CENTER), sends WM_INITDIALOG with param and shows it, as the system's
// modal dialog call does before its loop. Null when the template is missing
// or malformed.
ORV_PLATFORM_API HWND OrvCreateDialog(HMODULE module, LPCSTR name, HWND owner, DLGPROC proc,
                                      LPARAM param);
// Destroys a window and its controls.
ORV_PLATFORM_API BOOL OrvDestroyWindow(HWND window);
// Windows alive, controls included: a test's check that none is left.
ORV_PLATFORM_API int32_t OrvLiveWindows();
// TRUE once EndDialog has ended the dialog, with its result.
ORV_PLATFORM_API BOOL OrvDialogEnded(HWND dialog, INT_PTR* result);

// A click on a control: an automatic radio button checks itself and clears
// the others of its group, then the procedure gets WM_COMMAND with the id
// (notification BN_CLICKED, 0). FALSE for a missing or hidden control, a
// static control (it sends nothing) or an ended dialog.
ORV_PLATFORM_API BOOL OrvClickControl(HWND dialog, int id);
// Enter: WM_COMMAND for the default push button (IDOK without one). Escape:
// WM_COMMAND IDCANCEL. FALSE for any other key or an ended dialog.
ORV_PLATFORM_API BOOL OrvPressKey(HWND dialog, int key);
// The close box: WM_CLOSE, and when the procedure leaves it to the system,
// WM_COMMAND IDCANCEL.
ORV_PLATFORM_API BOOL OrvCloseBox(HWND dialog);

// Draws every visible top-level window, in the order they were made, into
// pixels (0x00RRGGBB, top row first, stride in pixels) covering area of the
// screen; the rest is the desktop colour.
ORV_PLATFORM_API BOOL OrvRenderScreen(const RECT* area, uint32_t* pixels, int32_t stride);

// Inspection, as on the system.
ORV_PLATFORM_API BOOL WINAPI IsWindowVisible(HWND window);
ORV_PLATFORM_API int WINAPI GetWindowTextA(HWND window, LPSTR text, int size);
ORV_PLATFORM_API int WINAPI GetDlgCtrlID(HWND window);
ORV_PLATFORM_API LONG WINAPI GetWindowLongA(HWND window, int index);
ORV_PLATFORM_API HWND WINAPI GetWindow(HWND window, UINT relation);
ORV_PLATFORM_API BOOL WINAPI GetClientRect(HWND window, RECT* rect);

#endif  // !_WIN32
