// Every host interface the module calls, by slot. Each interface is a record
// whose first word points at a table of operations; slots 0-2 are always
// QueryInterface, AddRef and Release, and every operation takes the interface
// first. Slots the module never calls are kept as placeholders so that the
// numbered ones sit where the host puts them.
#pragma once

#include <cstddef>
#include <cstdint>

#include "module/abi.h"
#include "platform/win32.h"

namespace orv::module {

struct HostCallback;
struct HostAllocator;
struct HostCache;
struct HostDict;
struct HostUtilities;
struct HostStream;
struct HostGC;
struct ClassInstance;

// The resource-bracket token the host hands out and takes back.
using ResourceToken = intptr_t;

// Base slots shared by every interface, host's and module's alike.
#define ORV_BASE_SLOTS(Self)                                                   \
  HResult(ORV_CALL* QueryInterface)(Self * self, const Guid* iid, void** out); \
  uint32_t(ORV_CALL* AddRef)(Self * self);                                     \
  uint32_t(ORV_CALL* Release)(Self * self)

using HostSlot = void*;  // a slot the module never calls

// The host-made instance of a module class: the table the host serves for it.
struct ClassInstanceOps {
  ORV_BASE_SLOTS(ClassInstance);
};

struct HostCallbackOps {
  ORV_BASE_SLOTS(HostCallback);
  // 3: a new instance of a module class, answered with the requested interface.
  HResult(ORV_CALL* CreateInstance)(HostCallback* self, const Guid* classId, const Guid* iid,
                                    void** out);
  HostSlot slot4;
  // 5: opens the resource bracket; returns the module handle to load from.
  HMODULE(ORV_CALL* BeginUsingResources)(HostCallback* self, HMODULE module, ResourceToken* token);
  // 6: closes it again.
  HResult(ORV_CALL* EndUsingResources)(HostCallback* self, HMODULE module, ResourceToken token);
};

struct HostAllocatorOps {
  ORV_BASE_SLOTS(HostAllocator);
  void*(ORV_CALL* Alloc)(HostAllocator* self, int32_t bytes);  // 3: block or null
  HResult(ORV_CALL* Free)(HostAllocator* self, void* block);   // 4
};

struct HostCacheOps {
  ORV_BASE_SLOTS(HostCache);
  HostSlot slot3, slot4, slot5, slot6;
  // 7: a new registry entry; the module never releases it.
  HResult(ORV_CALL* AddRegistryEntry)(HostCache* self, void* registrationDict, const Guid* classId,
                                      const Guid* iid, HostDict** entry);
};

// HostDict value types and the size passed with them.
enum HostDictType : int32_t {
  kDictInt32 = 3,  // size 0
  kDictFlag = 6,   // one byte, size 1
  kDictBytes = 8,  // size = byte count
  kDictText = 9,   // zero-terminated, size 0
};

struct HostDictOps {
  ORV_BASE_SLOTS(HostDict);
  HostSlot slot3, slot4;
  HResult(ORV_CALL* Get)(HostDict* self, int32_t type, void* buffer, int32_t size,
                         const char* key);  // 5
  HResult(ORV_CALL* Put)(HostDict* self, int32_t type, const void* data, int32_t size,
                         const char* key);  // 6
};

struct HostUtilitiesOps {
  ORV_BASE_SLOTS(HostUtilities);
  HostSlot slots3to40[38];
  // 41: modal dialog from the module's template; the result is not used.
  HResult(ORV_CALL* RunDialog)(HostUtilities* self, HMODULE module, int32_t dialogId, DLGPROC proc);
  HostSlot slots42to44[3];
  // 45: the same with a parameter for the dialog procedure's WM_INITDIALOG.
  HResult(ORV_CALL* RunDialogParam)(HostUtilities* self, HMODULE module, int32_t dialogId,
                                    DLGPROC proc, LPARAM param);
};

enum HostStreamMode : int32_t { kStreamRead = 0, kStreamWrite = 2 };

struct HostStreamOps {
  ORV_BASE_SLOTS(HostStream);
  HResult(ORV_CALL* Open)(HostStream* self, int32_t mode, int32_t zero);                 // 3
  HResult(ORV_CALL* Close)(HostStream* self);                                            // 4
  HResult(ORV_CALL* Read)(HostStream* self, void* buffer, int32_t bytes, int32_t zero);  // 5
  HostSlot slot6;
  HResult(ORV_CALL* Write)(HostStream* self, const void* buffer, int32_t bytes,
                           int32_t zero);  // 7
};

// What GetNativeInfo describes: five words.
struct NativeInfo {
  intptr_t kind;             // kind of drawing surface (1..3: a device context)
  HDC dc;                    // device context to draw into or copy from
  BITMAPINFOHEADER* header;  // offscreen image header (biWidth, biHeight)
  uint8_t* pixels;           // first byte of the offscreen pixel block
  intptr_t extra;
};
ORV_LAYOUT32(sizeof(NativeInfo) == 20, "NativeInfo is five words");

// Rectangle in the host's order: top, left, bottom, right (bottom, right exclusive).
struct HostRect {
  int32_t top, left, bottom, right;
};
static_assert(sizeof(HostRect) == 16);

struct HostGCOps {
  ORV_BASE_SLOTS(HostGC);
  HostSlot slot3;
  HResult(ORV_CALL* GetDepth)(HostGC* self, int32_t* bitsPerPixel);  // 4
  HResult(ORV_CALL* GetNativeInfo)(HostGC* self, NativeInfo* info);  // 5
  HostSlot slot6;
  // 7: copies source rectangle of source into target rectangle of this context.
  HResult(ORV_CALL* Blit)(HostGC* self, const HostRect* target, HostGC* source,
                          const HostRect* sourceRect, int32_t, int32_t, int32_t);
};

// Every host interface object: a pointer to its operations table first.
struct HostCallback {
  const HostCallbackOps* ops;
};
struct HostAllocator {
  const HostAllocatorOps* ops;
};
struct HostCache {
  const HostCacheOps* ops;
};
struct HostDict {
  const HostDictOps* ops;
};
struct HostUtilities {
  const HostUtilitiesOps* ops;
};
struct HostStream {
  const HostStreamOps* ops;
};
struct HostGC {
  const HostGCOps* ops;
};

// The host interface IDs the module asks for.
inline constexpr Guid kHostUtilitiesId =
    MakeGuid(0xAC96CF89, 0x0045, 0x5879, 0x0000, 0x0040105023FBull);

#define ORV_SLOT(Ops, field, n) \
  static_assert(offsetof(Ops, field) == (n) * sizeof(void*), #Ops " slot " #n)
ORV_SLOT(HostCallbackOps, CreateInstance, 3);
ORV_SLOT(HostCallbackOps, BeginUsingResources, 5);
ORV_SLOT(HostCallbackOps, EndUsingResources, 6);
ORV_SLOT(HostAllocatorOps, Alloc, 3);
ORV_SLOT(HostAllocatorOps, Free, 4);
ORV_SLOT(HostCacheOps, AddRegistryEntry, 7);
ORV_SLOT(HostDictOps, Get, 5);
ORV_SLOT(HostDictOps, Put, 6);
ORV_SLOT(HostUtilitiesOps, RunDialog, 41);
ORV_SLOT(HostUtilitiesOps, RunDialogParam, 45);
ORV_SLOT(HostStreamOps, Open, 3);
ORV_SLOT(HostStreamOps, Close, 4);
ORV_SLOT(HostStreamOps, Read, 5);
ORV_SLOT(HostStreamOps, Write, 7);
ORV_SLOT(HostGCOps, GetDepth, 4);
ORV_SLOT(HostGCOps, GetNativeInfo, 5);
ORV_SLOT(HostGCOps, Blit, 7);

}  // namespace orv::module
