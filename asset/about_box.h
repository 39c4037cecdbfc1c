// The asset's about box and its thumbnail: the same for every transition.
#pragma once

#include "module/host_services.h"
#include "module/interface_object.h"
#include "platform/win32.h"

namespace orv::asset {

using module::HostGC;
using module::HostRect;
using module::HResult;
using module::InterfaceObject;

// AssetInterface slot 24: the modal about box, dialog 130.
HResult ORV_CALL RunAbout(InterfaceObject* self);
INT_PTR CALLBACK AboutDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam);

// AssetInterface slot 25: the logo, bitmap 510, stretched into rect of gc.
HResult ORV_CALL PaintThumbnail(InterfaceObject* self, HostGC* gc, const HostRect* rect);

// Ids in the about box and the bitmaps it and the thumbnail use.
inline constexpr int kAboutDialog = 130;
inline constexpr int kMmxBadgeControl = 1005;
inline constexpr int kLogoBitmap = 510;

}  // namespace orv::asset
