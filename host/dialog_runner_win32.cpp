// The dialog runner on Windows: the system builds the dialog from the
// module's template and runs its modal loop (DialogBoxParamA), owned by a
// plain top-level stage window. The script is played from a timer on the
// dialog: timer messages come only when nothing else is queued, so each
// action finds the previous one's messages (the close box's posted Cancel
// among them) handled and the dialog painted.
#include "host/dialog_runner.h"

using namespace orv::module;

namespace orvhost {

namespace {

constexpr UINT_PTR kStepTimer = 0x4F52;
constexpr UINT kStepMillis = 20;
constexpr char kStageClass[] = "OrvStage";

// The run in progress; dialogs are modal, so one at a time.
struct Session {
  DialogRunner* runner = nullptr;
  DLGPROC proc = nullptr;
  DialogRun* run = nullptr;
  size_t next = 0;
  bool initialised = false;
  bool started = false;
  bool tornDown = false;  // the script ran out with the dialog still open
};
Session* active = nullptr;

// The dialog window as it shows, frame included.
Screenshot CaptureWindow(HWND window) {
  Screenshot shot;
  GetWindowRect(window, &shot.area);
  shot.width = shot.area.right - shot.area.left;
  shot.height = shot.area.bottom - shot.area.top;
  if (shot.width <= 0 || shot.height <= 0) return Screenshot{};
  BITMAPINFO info{};
  info.bmiHeader.biSize = sizeof info.bmiHeader;
  info.bmiHeader.biWidth = shot.width;
  info.bmiHeader.biHeight = -shot.height;  // top row first
  info.bmiHeader.biPlanes = 1;
  info.bmiHeader.biBitCount = 32;
  info.bmiHeader.biCompression = BI_RGB;
  void* bits = nullptr;
  HDC screen = GetDC(nullptr);
  HBITMAP dib = CreateDIBSection(screen, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
  HDC memory = CreateCompatibleDC(screen);
  ReleaseDC(nullptr, screen);
  if (dib && memory) {
    HGDIOBJ old = SelectObject(memory, dib);
    // Painted now, frame and controls, then copied from what the window
    // shows: the system's PrintWindow leaves the controls out under wine.
    RedrawWindow(window, nullptr, nullptr,
                 RDW_INVALIDATE | RDW_ERASE | RDW_FRAME | RDW_ALLCHILDREN | RDW_UPDATENOW);
    HDC source = GetWindowDC(window);
    BitBlt(memory, 0, 0, shot.width, shot.height, source, 0, 0, SRCCOPY);
    ReleaseDC(window, source);
    GdiFlush();
    const auto* pixels = static_cast<const uint32_t*>(bits);
    shot.pixels.assign(pixels, pixels + static_cast<size_t>(shot.width) * shot.height);
    for (uint32_t& p : shot.pixels) p &= 0x00FFFFFFu;
    SelectObject(memory, old);
  }
  if (memory) DeleteDC(memory);
  if (dib) DeleteObject(dib);
  return shot;
}

// An action as Windows delivers it: a click is the button's own BM_CLICK
// (which checks an automatic radio button and notifies the dialog); keys are
// posted to the dialog for its modal loop's IsDialogMessage, which turns
// Enter into the default button's command and Escape into IDCANCEL; the close
// box is the system command, which ends in the dialog's WM_CLOSE.
BOOL Apply(HWND dialog, const DialogAction& action) {
  switch (action.kind) {
    case DialogAction::kClick: {
      HWND control = GetDlgItem(dialog, action.id);
      if (!control) return FALSE;
      SendMessageA(control, BM_CLICK, 0, 0);
      return TRUE;
    }
    case DialogAction::kEnter:
      return PostMessageA(dialog, WM_KEYDOWN, VK_RETURN, 0);
    case DialogAction::kEscape:
      return PostMessageA(dialog, WM_KEYDOWN, VK_ESCAPE, 0);
    case DialogAction::kClose:
      return PostMessageA(dialog, WM_SYSCOMMAND, SC_CLOSE, 0);
  }
  return FALSE;
}

void Step(Session& s, HWND dialog) {
  // The modal loop shows the dialog once its queue first runs empty.
  if (!IsWindowVisible(dialog)) return;
  DialogRun& run = *s.run;
  if (!s.started) {
    s.started = true;
    run.afterInit = ControlsOf(dialog);
  }
  if (s.runner->capture) run.picture = CaptureWindow(dialog);
  const std::vector<DialogAction>& script = s.runner->script;
  if (s.next == script.size()) {
    KillTimer(dialog, kStepTimer);
    s.tornDown = true;
    EndDialog(dialog, 0);
    return;
  }
  if (Apply(dialog, script[s.next++])) ++run.actionsApplied;
}

// Stands between the system and the module's procedure: passes every
// message on, and watches the start, the steps and the end.
INT_PTR CALLBACK Watch(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) {
  Session& s = *active;
  if (message == WM_TIMER && wParam == kStepTimer) {
    Step(s, dialog);
    return TRUE;
  }
  if (message == WM_DESTROY) s.run->atEnd = ControlsOf(dialog);
  const INT_PTR handled = s.proc(dialog, message, wParam, lParam);
  if (message == WM_INITDIALOG) {
    s.initialised = true;
    GetWindowRect(dialog, &s.run->rectAfterInit);
    SetTimer(dialog, kStepTimer, kStepMillis, nullptr);
  }
  return handled;
}

HWND CreateStage(const RECT& rect) {
  static const ATOM stageClass = [] {
    WNDCLASSA wc{};
    wc.lpfnWndProc = DefWindowProcA;
    wc.hInstance = GetModuleHandleA(nullptr);
    wc.hbrBackground = static_cast<HBRUSH>(GetStockObject(GRAY_BRUSH));
    wc.lpszClassName = kStageClass;
    return RegisterClassA(&wc);
  }();
  if (!stageClass) return nullptr;
  return CreateWindowExA(0, kStageClass, "stage", WS_POPUP | WS_VISIBLE, rect.left, rect.top,
                         rect.right - rect.left, rect.bottom - rect.top, nullptr, nullptr,
                         GetModuleHandleA(nullptr), nullptr);
}

}  // namespace

HResult DialogRunner::Run(HMODULE module, int32_t id, DLGPROC proc, LPARAM param) {
  DialogRun run;
  run.module = module;
  run.dialogId = id;
  run.param = param;
  HWND owner = hasOwner ? CreateStage(ownerRect) : nullptr;
  if (owner) GetWindowRect(owner, &run.ownerRect);
  Session session;
  session.runner = this;
  session.proc = proc;
  session.run = &run;
  active = &session;
  run.result = DialogBoxParamA(module, MAKEINTRESOURCEA(id), owner, Watch, param);
  active = nullptr;
  run.created = session.initialised;
  run.ended = run.created && !session.tornDown;
  if (session.tornDown) run.result = 0;
  if (owner) DestroyWindow(owner);
  runs.push_back(std::move(run));
  return static_cast<HResult>(runs.back().result);
}

}  // namespace orvhost
