// Runs the dialogs the module asks the host for: builds the dialog from the
// module's template with the platform stand-in (on Windows, with the system's
// own dialog manager: dialog_runner_win32.cpp), owned by a stage window,
// sends WM_INITDIALOG with the parameter, applies a script of user actions
// and records what happened, with pictures of the screen on request (on
// Windows, of the dialog window alone).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "host/stand_in_host.h"
#include "platform/win32.h"

namespace orvhost {

using orv::module::HResult;

// One thing a person does to an open dialog.
struct DialogAction {
  enum Kind { kClick, kEnter, kEscape, kClose } kind = kEnter;
  int32_t id = 0;  // the control clicked
};

// Parses a script such as "click 1007; enter": actions separated by ';' or
// new lines, each "click <id>", "enter", "escape" or "close". False with a
// message on the first word it does not know.
bool ParseDialogScript(const std::string& text, std::vector<DialogAction>* actions,
                       std::string* error);

// A control as it stood at one moment.
struct ControlState {
  int32_t id = 0;
  std::string text;
  uint32_t style = 0;
  bool visible = false;
  bool checked = false;
  RECT rect{};  // screen coordinates
};

// The dialog's controls as they stand now, in window order.
std::vector<ControlState> ControlsOf(HWND dialog);

// A picture of part of the screen: 0x00RRGGBB, top row first.
struct Screenshot {
  RECT area{};
  int32_t width = 0, height = 0;
  std::vector<uint32_t> pixels;
};

// What one dialog run did.
struct DialogRun {
  HMODULE module = nullptr;  // the handle the module passed
  int32_t dialogId = 0;
  LPARAM param = 0;
  bool created = false;  // false: the template was missing or malformed
  bool ended = false;    // false: the script left it open and it was torn down
  INT_PTR result = 0;    // EndDialog's result; -1 when not created
  int actionsApplied = 0;
  RECT ownerRect{};
  RECT rectAfterInit{};  // the dialog's window after WM_INITDIALOG
  std::vector<ControlState> afterInit;
  std::vector<ControlState> atEnd;
  Screenshot picture;  // the screen before the action that ended the dialog

  const ControlState* Control(int32_t id, bool atStart = true) const;
};

class DialogRunner {
 public:
  // Becomes host.dialogRunner until destroyed.
  explicit DialogRunner(Host& host);
  ~DialogRunner();
  DialogRunner(const DialogRunner&) = delete;
  DialogRunner& operator=(const DialogRunner&) = delete;

  // The stage window that owns each dialog; hasOwner false runs the dialog
  // without one.
  RECT ownerRect{192, 144, 832, 624};  // in the middle of the stand-in screen
  bool hasOwner = true;
  // Applied to every dialog, in order, until one ends it.
  std::vector<DialogAction> script;
  // Keep a picture of the screen around the stage and the dialog.
  bool capture = false;

  std::vector<DialogRun> runs;

 private:
  HResult Run(HMODULE module, int32_t id, DLGPROC proc, LPARAM param);
  Host& host_;
};

}  // namespace orvhost
