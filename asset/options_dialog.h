// The asset's options dialog (the colour of the colour transition), and the
// one way the asset shows any of its dialogs: through the host's resource
// bracket and its HostUtilities service.
#pragma once

#include <cstdint>

#include "module/interface_object.h"
#include "platform/win32.h"

namespace orv::asset {

using module::HResult;
using module::InterfaceObject;

// Result of RunOptions and RunAbout when the host offers no HostUtilities: no
// dialog can be shown, and the host is told so.
inline constexpr HResult kNoDialogService = module::kNoInterface;

// Opens the resource bracket, asks the owner's host for HostUtilities and has
// it run dialog dialogId from the module with proc (RunDialogParam with
// param when withParam, else RunDialog), then releases the service and
// closes the bracket. 0, or kNoDialogService without the service; the
// dialog's own result is not looked at.
HResult ShowModuleDialog(InterfaceObject* self, int32_t dialogId, DLGPROC proc, bool withParam,
                         LPARAM param);

// AssetInterface slot 22: the modal options dialog 119 for this asset.
HResult ORV_CALL RunOptions(InterfaceObject* self);
INT_PTR CALLBACK OptionsDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam);

// The asset whose options dialog is open; set at WM_INITDIALOG, never cleared.
extern InterfaceObject* OptionsDialogAsset;

// The options dialog's resource number, and its radio buttons: 1004 + ColorChoice, "Red" to "Black
// && White" (shown "Black & White").
inline constexpr int32_t kOptionsDialog = 119;
inline constexpr int kFirstColorButton = 1004;
inline constexpr int kLastColorButton = 1010;

}  // namespace orv::asset
