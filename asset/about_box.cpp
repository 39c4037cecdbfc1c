#include "asset/about_box.h"

#include "asset/options_dialog.h"
#include "kernels/pixel_kernels.h"

namespace orv::asset {

using namespace orv::module;

// 0 whether or not the box could be shown; kNoDialogService when the host
// has no service to show it with.
HResult ORV_CALL RunAbout(InterfaceObject* self) {
  return ShowModuleDialog(self, kAboutDialog, AboutDialogProc, false, 0);
}

INT_PTR CALLBACK AboutDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM) {
  if (message == WM_INITDIALOG) {
    // The processor is asked afresh each time, not the asset's CpuFeatures.
    if (kernels::ProcessorHasMmx()) ShowWindow(GetDlgItem(dialog, kMmxBadgeControl), SW_SHOW);
    return 0;
  }
  if (message == WM_COMMAND && (wParam == 1 || wParam == 2)) {
    EndDialog(dialog, 1);
    return 1;
  }
  return 0;
}

HResult ORV_CALL PaintThumbnail(InterfaceObject* self, HostGC* gc, const HostRect* rect) {
  // Left zeroed, a description the host did not fill names no surface.
  NativeInfo info{};
  gc->ops->GetNativeInfo(gc, &info);
  HostCallback* callback = self->owner->callback;
  ResourceToken token = 0;
  HMODULE module = callback->ops->BeginUsingResources(callback, moduleInstance, &token);
  if (info.kind >= 1 && info.kind <= 3 && rect) {
    HDC dc = info.dc;
    HGDIOBJ oldPen = SelectObject(dc, GetStockObject(NULL_PEN));
    HGDIOBJ oldBrush = SelectObject(dc, GetStockObject(NULL_BRUSH));
    HBITMAP logo = LoadBitmapA(module, MAKEINTRESOURCEA(kLogoBitmap));
    if (logo) {
      HDC memory = CreateCompatibleDC(dc);
      BITMAP size{};  // stays 0 x 0, copying nothing, if it cannot be read
      GetObjectA(logo, sizeof size, &size);
      SelectObject(memory, logo);
      // Negative extents mirror the picture, as StretchBlt does. An extent
      // that does not fit in 32 bits draws nothing.
      const int64_t width = int64_t{rect->right} - rect->left;
      const int64_t height = int64_t{rect->bottom} - rect->top;
      if (width == static_cast<int32_t>(width) && height == static_cast<int32_t>(height))
        StretchBlt(dc, rect->left, rect->top, static_cast<int>(width), static_cast<int>(height),
                   memory, 0, 0, size.bmWidth, size.bmHeight, SRCCOPY);
      DeleteDC(memory);
    }
    SelectObject(dc, oldBrush);
    SelectObject(dc, oldPen);
    if (logo) DeleteObject(logo);
  }
  callback->ops->EndUsingResources(callback, moduleInstance, token);
  return kOk;
}

}  // namespace orv::asset
