#include "asset/options_dialog.h"

#include <cstdlib>

#include "asset/transition_asset.h"

namespace orv::asset {

using namespace orv::module;

InterfaceObject* OptionsDialogAsset = nullptr;

namespace {

constexpr WPARAM kOk = 1;
constexpr WPARAM kCancel = 2;

// Moves the dialog to the middle of its parent window, keeping its size. The
// sums are formed in 64 bits so that no rectangle can overflow them; a
// dialog whose parent cannot be asked stays where the template put it.
void CentreOnParent(HWND dialog) {
  RECT own{}, parent{};
  if (!GetWindowRect(dialog, &own)) return;
  HWND parentWindow = GetParent(dialog);
  if (!parentWindow || !GetWindowRect(parentWindow, &parent)) return;
  const int64_t w = std::llabs(static_cast<int64_t>(own.right) - own.left);
  const int64_t h = std::llabs(static_cast<int64_t>(own.bottom) - own.top);
  // Signed divisions, truncating towards zero.
  const int64_t x = (static_cast<int64_t>(parent.left) + parent.right - w) / 2;
  const int64_t y = (static_cast<int64_t>(parent.top) + parent.bottom - h) / 2;
  MoveWindow(dialog, static_cast<int>(x), static_cast<int>(y), static_cast<int>(w),
             static_cast<int>(h), 1);  // repaint
}

// The button of a ColorChoice: 1004 + the value for 1..6, "Red" for 0 and for
// any value that media may have brought outside 0..6.
int ButtonOfChoice(int32_t choice) {
  return choice >= 1 && choice <= 6 ? kFirstColorButton + choice : kFirstColorButton;
}

}  // namespace

HResult ShowModuleDialog(InterfaceObject* self, int32_t dialogId, DLGPROC proc, bool withParam,
                         LPARAM param) {
  HostCallback* callback = self->owner->callback;
  ResourceToken token = 0;
  HMODULE module = callback->ops->BeginUsingResources(callback, moduleInstance, &token);
  HostUtilities* utilities = nullptr;
  HResult result = module::kOk;
  if (callback->ops->QueryInterface(callback, &kHostUtilitiesId,
                                    reinterpret_cast<void**>(&utilities)) != 0 ||
      !utilities) {
    result = kNoDialogService;
  } else {
    if (withParam)
      utilities->ops->RunDialogParam(utilities, module, dialogId, proc, param);
    else
      utilities->ops->RunDialog(utilities, module, dialogId, proc);
    utilities->ops->Release(utilities);
  }
  callback->ops->EndUsingResources(callback, moduleInstance, token);
  return result;
}

// 0 whether the author pressed OK or Cancel; kNoDialogService when the host
// has no service to show the dialog with.
HResult ORV_CALL RunOptions(InterfaceObject* self) {
  return ShowModuleDialog(self, kOptionsDialog, OptionsDialogProc, true,
                          reinterpret_cast<LPARAM>(self));
}

INT_PTR CALLBACK OptionsDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == WM_INITDIALOG) {
    OptionsDialogAsset = reinterpret_cast<InterfaceObject*>(lParam);
    CentreOnParent(dialog);
    const int32_t choice =
        OptionsDialogAsset ? FieldsOf<AssetFields>(OptionsDialogAsset).colorChoice : 0;
    CheckRadioButton(dialog, kFirstColorButton, kLastColorButton, ButtonOfChoice(choice));
    return 1;
  }
  if (message != WM_COMMAND) return 0;
  if (wParam == kOk) {
    if (OptionsDialogAsset) {
      // Every checked button is taken in turn, so the last one wins; with none
      // checked the colour stays.
      int32_t& choice = FieldsOf<AssetFields>(OptionsDialogAsset).colorChoice;
      for (int id = kFirstColorButton; id <= kLastColorButton; ++id)
        if (IsDlgButtonChecked(dialog, id) == BST_CHECKED) choice = id - kFirstColorButton;
    }
    EndDialog(dialog, 1);
    return 1;
  }
  if (wParam == kCancel) {
    EndDialog(dialog, 0);
    return 1;
  }
  return 0;  // a radio button checks itself
}

}  // namespace orv::asset
