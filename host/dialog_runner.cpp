#include "host/dialog_runner.h"

#include <algorithm>
#include <sstream>

#if !defined(_WIN32)
#include "platform/standin/ui.h"
#endif

using namespace orv::module;

namespace orvhost {

namespace {

std::string Trim(const std::string& s) {
  const size_t first = s.find_first_not_of(" \t\r");
  if (first == std::string::npos) return {};
  return s.substr(first, s.find_last_not_of(" \t\r") - first + 1);
}

#if !defined(_WIN32)
// The stage and the dialog with a margin around both.
Screenshot Capture(const RECT& owner, bool hasOwner, HWND dialog) {
  RECT d{};
  GetWindowRect(dialog, &d);
  RECT area = d;
  if (hasOwner) {
    area = {std::min(owner.left, d.left), std::min(owner.top, d.top),
            std::max(owner.right, d.right), std::max(owner.bottom, d.bottom)};
  }
  constexpr int32_t kMargin = 16;
  Screenshot shot;
  shot.area = {area.left - kMargin, area.top - kMargin, area.right + kMargin,
               area.bottom + kMargin};
  shot.width = shot.area.right - shot.area.left;
  shot.height = shot.area.bottom - shot.area.top;
  shot.pixels.assign(static_cast<size_t>(shot.width) * static_cast<size_t>(shot.height), 0);
  OrvRenderScreen(&shot.area, shot.pixels.data(), shot.width);
  return shot;
}

BOOL Apply(HWND dialog, const DialogAction& action) {
  switch (action.kind) {
    case DialogAction::kClick:
      return OrvClickControl(dialog, action.id);
    case DialogAction::kEnter:
      return OrvPressKey(dialog, VK_RETURN);
    case DialogAction::kEscape:
      return OrvPressKey(dialog, VK_ESCAPE);
    case DialogAction::kClose:
      return OrvCloseBox(dialog);
  }
  return FALSE;
}
#endif

}  // namespace

bool ParseDialogScript(const std::string& text, std::vector<DialogAction>* actions,
                       std::string* error) {
  std::string normalised = text;
  std::replace(normalised.begin(), normalised.end(), '\n', ';');
  std::stringstream steps(normalised);
  std::string step;
  std::vector<DialogAction> parsed;
  while (std::getline(steps, step, ';')) {
    step = Trim(step);
    if (step.empty()) continue;
    std::stringstream words(step);
    std::string verb, rest;
    words >> verb;
    DialogAction action;
    if (verb == "click") {
      action.kind = DialogAction::kClick;
      if (!(words >> action.id)) {
        *error = "click needs a control id: '" + step + "'";
        return false;
      }
    } else if (verb == "enter") {
      action.kind = DialogAction::kEnter;
    } else if (verb == "escape") {
      action.kind = DialogAction::kEscape;
    } else if (verb == "close") {
      action.kind = DialogAction::kClose;
    } else {
      *error = "unknown action '" + step + "' (click <id>, enter, escape, close)";
      return false;
    }
    if (words >> rest) {
      *error = "unexpected '" + rest + "' in '" + step + "'";
      return false;
    }
    parsed.push_back(action);
  }
  *actions = std::move(parsed);
  return true;
}

std::vector<ControlState> ControlsOf(HWND dialog) {
  std::vector<ControlState> controls;
  for (HWND c = GetWindow(dialog, GW_CHILD); c; c = GetWindow(c, GW_HWNDNEXT)) {
    ControlState state;
    state.id = GetDlgCtrlID(c);
    char text[256];
    GetWindowTextA(c, text, sizeof text);
    state.text = text;
    state.style = static_cast<uint32_t>(GetWindowLongA(c, GWL_STYLE));
    state.visible = IsWindowVisible(c) != 0;
    state.checked = IsDlgButtonChecked(dialog, state.id) == BST_CHECKED;
    GetWindowRect(c, &state.rect);
    controls.push_back(state);
  }
  return controls;
}

const ControlState* DialogRun::Control(int32_t id, bool atStart) const {
  for (const ControlState& c : atStart ? afterInit : atEnd)
    if (c.id == id) return &c;
  return nullptr;
}

DialogRunner::DialogRunner(Host& host) : host_(host) {
  host_.dialogRunner = [this](HMODULE module, int32_t id, DLGPROC proc, LPARAM param) {
    return Run(module, id, proc, param);
  };
}

DialogRunner::~DialogRunner() { host_.dialogRunner = nullptr; }

#if !defined(_WIN32)
HResult DialogRunner::Run(HMODULE module, int32_t id, DLGPROC proc, LPARAM param) {
  DialogRun run;
  run.module = module;
  run.dialogId = id;
  run.param = param;
  run.ownerRect = ownerRect;
  HWND owner = hasOwner ? OrvCreateTopWindow(&ownerRect, "stage") : nullptr;
  HWND dialog = OrvCreateDialog(module, MAKEINTRESOURCEA(id), owner, proc, param);
  run.created = dialog != nullptr;
  run.result = -1;
  if (dialog) {
    GetWindowRect(dialog, &run.rectAfterInit);
    run.afterInit = ControlsOf(dialog);
    for (const DialogAction& action : script) {
      if (OrvDialogEnded(dialog, &run.result)) break;
      if (capture) run.picture = Capture(ownerRect, hasOwner, dialog);
      if (Apply(dialog, action)) ++run.actionsApplied;
    }
    run.ended = OrvDialogEnded(dialog, &run.result) != 0;
    if (!run.ended) {
      run.result = 0;
      if (capture) run.picture = Capture(ownerRect, hasOwner, dialog);
    }
    run.atEnd = ControlsOf(dialog);
    OrvDestroyWindow(dialog);
  }
  if (owner) OrvDestroyWindow(owner);
  runs.push_back(std::move(run));
  return static_cast<HResult>(runs.back().result);
}

#endif

}  // namespace orvhost
