// The Windows services the module uses. On Windows these are the system's own;
// elsewhere a small stand-in library (platform/standin) provides the same
// functions with the same types, loaded by both the module and the stand-in
// host so that a device context made by one is known to the other.
#pragma once

#include <cstdint>

#if defined(_WIN32)
#define WIN32_LEAN_AND_MEAN
#include <windows.h>
#else

#if defined(ORV_PLATFORM_BUILD)
#define ORV_PLATFORM_API extern "C" __attribute__((visibility("default")))
#else
#define ORV_PLATFORM_API extern "C"
#endif
// The system's calling convention: __stdcall on 32-bit x86, the default
// elsewhere.
#if defined(__i386__)
#define WINAPI __attribute__((stdcall))
#else
#define WINAPI
#endif
#define CALLBACK WINAPI

typedef int32_t BOOL;
typedef uint8_t BYTE;
typedef uint16_t WORD;
typedef uint32_t DWORD;
typedef uint32_t UINT;
typedef int32_t LONG;
typedef intptr_t INT_PTR;
typedef intptr_t LONG_PTR;
typedef uintptr_t UINT_PTR;
typedef UINT_PTR WPARAM;
typedef LONG_PTR LPARAM;
typedef LONG_PTR LRESULT;
typedef char* LPSTR;
typedef const char* LPCSTR;
typedef void* HGLOBAL;
typedef void* HGDIOBJ;
typedef struct HDC__* HDC;
typedef struct HWND__* HWND;
typedef struct HINSTANCE__* HINSTANCE;
typedef HINSTANCE HMODULE;
typedef struct HRSRC__* HRSRC;
typedef struct HBITMAP__* HBITMAP;
typedef INT_PTR(CALLBACK* DLGPROC)(HWND, UINT, WPARAM, LPARAM);

struct RECT {
  LONG left, top, right, bottom;
};

struct BITMAPINFOHEADER {
  DWORD biSize;
  LONG biWidth;
  LONG biHeight;
  WORD biPlanes;
  WORD biBitCount;
  DWORD biCompression;
  DWORD biSizeImage;
  LONG biXPelsPerMeter;
  LONG biYPelsPerMeter;
  DWORD biClrUsed;
  DWORD biClrImportant;
};
static_assert(sizeof(BITMAPINFOHEADER) == 40);

struct RGBQUAD {
  BYTE rgbBlue, rgbGreen, rgbRed, rgbReserved;
};

struct BITMAPINFO {
  BITMAPINFOHEADER bmiHeader;
  RGBQUAD bmiColors[1];
};

struct BITMAP {
  LONG bmType;
  LONG bmWidth;
  LONG bmHeight;
  LONG bmWidthBytes;
  WORD bmPlanes;
  WORD bmBitsPixel;
  void* bmBits;
};
static_assert(sizeof(void*) != 4 || sizeof(BITMAP) == 24,
              "BITMAP is 24 bytes on the 32-bit target");

#define MAKEINTRESOURCEA(i) (reinterpret_cast<LPSTR>(static_cast<uintptr_t>(static_cast<WORD>(i))))
#define IS_INTRESOURCE(p) ((reinterpret_cast<uintptr_t>(p) >> 16) == 0)
#define RT_BITMAP MAKEINTRESOURCEA(2)
#define RT_DIALOG MAKEINTRESOURCEA(5)

constexpr DWORD SRCCOPY = 0x00CC0020;
constexpr DWORD BI_RGB = 0;
constexpr DWORD BI_RLE8 = 1;
constexpr UINT DIB_RGB_COLORS = 0;
constexpr int NULL_BRUSH = 5;
constexpr int NULL_PEN = 8;
constexpr int SW_HIDE = 0;
constexpr int SW_SHOW = 5;
constexpr UINT WM_INITDIALOG = 0x0110;
constexpr UINT WM_COMMAND = 0x0111;
constexpr UINT BST_CHECKED = 1;

// Graphics.
ORV_PLATFORM_API BOOL WINAPI BitBlt(HDC dst, int x, int y, int w, int h, HDC src, int sx, int sy,
                                    DWORD rop);
ORV_PLATFORM_API BOOL WINAPI StretchBlt(HDC dst, int x, int y, int w, int h, HDC src, int sx,
                                        int sy, int sw, int sh, DWORD rop);
ORV_PLATFORM_API HDC WINAPI CreateCompatibleDC(HDC dc);
ORV_PLATFORM_API BOOL WINAPI DeleteDC(HDC dc);
ORV_PLATFORM_API HGDIOBJ WINAPI SelectObject(HDC dc, HGDIOBJ object);
ORV_PLATFORM_API BOOL WINAPI DeleteObject(HGDIOBJ object);
ORV_PLATFORM_API HGDIOBJ WINAPI GetStockObject(int which);
ORV_PLATFORM_API int WINAPI GetObjectA(HGDIOBJ object, int size, void* out);
ORV_PLATFORM_API HBITMAP WINAPI CreateDIBSection(HDC dc, const BITMAPINFO* info, UINT usage,
                                                 void** bits, void* section, DWORD offset);
ORV_PLATFORM_API HBITMAP WINAPI LoadBitmapA(HINSTANCE module, LPCSTR name);

// Resources.
ORV_PLATFORM_API HRSRC WINAPI FindResourceA(HMODULE module, LPCSTR name, LPCSTR type);
ORV_PLATFORM_API HGLOBAL WINAPI LoadResource(HMODULE module, HRSRC resource);
ORV_PLATFORM_API void* WINAPI LockResource(HGLOBAL loaded);
ORV_PLATFORM_API DWORD WINAPI SizeofResource(HMODULE module, HRSRC resource);
ORV_PLATFORM_API BOOL WINAPI FreeResource(HGLOBAL loaded);

// Dialogs.
ORV_PLATFORM_API BOOL WINAPI GetWindowRect(HWND window, RECT* rect);
ORV_PLATFORM_API HWND WINAPI GetParent(HWND window);
ORV_PLATFORM_API BOOL WINAPI MoveWindow(HWND window, int x, int y, int w, int h, BOOL repaint);
ORV_PLATFORM_API BOOL WINAPI CheckRadioButton(HWND dialog, int first, int last, int check);
ORV_PLATFORM_API UINT WINAPI IsDlgButtonChecked(HWND dialog, int id);
ORV_PLATFORM_API BOOL WINAPI EndDialog(HWND dialog, INT_PTR result);
ORV_PLATFORM_API HWND WINAPI GetDlgItem(HWND dialog, int id);
ORV_PLATFORM_API BOOL WINAPI ShowWindow(HWND window, int command);

#endif  // _WIN32
