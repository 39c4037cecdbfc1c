// A stand-in for the host: loads the module file by name, resolves its five
// exports, makes class instances, serves every host interface the module
// calls, and records each call so tests can check what the module did and in
// which order.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "module/abi.h"
#include "module/host_services.h"
#include "module/module_interface.h"

namespace orvhost {

using orv::module::ClassInstance;
using orv::module::ClassInterfaceRecord;
using orv::module::Guid;
using orv::module::HostAllocator;
using orv::module::HostCache;
using orv::module::HostCallback;
using orv::module::HostDict;
using orv::module::HostGC;
using orv::module::HostStream;
using orv::module::HostUtilities;
using orv::module::HResult;
using orv::module::InitializeOp;
using orv::module::ResourceToken;
using orv::module::TerminateOp;

using GetClassFormFn = HResult(ORV_CALL*)(const Guid*, int32_t*, InitializeOp*, TerminateOp*);
using GetInterfaceFn = HResult(ORV_CALL*)(ClassInstance*, const Guid*, const Guid*, void**);
using GetClassInfoFn = HResult(ORV_CALL*)(HostAllocator*, ClassInterfaceRecord**);
using CanUnloadNowFn = HResult(ORV_CALL*)();
using GetClassObjectFn = HResult(ORV_CALL*)(void*, void*, void*);

// The module file next to the running program, unless ORV_MODULE names another.
std::string DefaultModulePath();

// The module file, opened at run time with its exports resolved by name.
class Module {
 public:
  explicit Module(const std::string& path = DefaultModulePath());
  ~Module();
  Module(const Module&) = delete;
  Module& operator=(const Module&) = delete;

  void* handle() const { return handle_; }

  GetClassFormFn GetClassForm = nullptr;
  GetInterfaceFn GetInterface = nullptr;
  GetClassInfoFn GetClassInfo = nullptr;
  CanUnloadNowFn CanUnloadNow = nullptr;
  GetClassObjectFn GetClassObject = nullptr;

 private:
  void* handle_ = nullptr;
};

class Host;

// Host codes the stand-in returns for failures of its own.
inline constexpr HResult kHostNotFound = static_cast<HResult>(0x80040110);
inline constexpr HResult kHostFault = static_cast<HResult>(0x80040111);

// Every host object: the interface record first, then the host behind it.
struct AllocatorObject : HostAllocator {
  Host* host;
};
struct CallbackObject : HostCallback {
  Host* host;
};
struct UtilitiesObject : HostUtilities {
  Host* host;
  int32_t refs;
};
struct CacheObject : HostCache {
  Host* host;
};

// One typed value of a registry entry or dictionary.
struct DictValue {
  int32_t type = 0;
  std::vector<uint8_t> bytes;  // int32: 4 bytes; flag: 1; text: without terminator
  int32_t AsInt() const;
  std::string AsText() const;
};

struct Dict : HostDict {
  Host* host = nullptr;
  int index = 0;  // position in the registry, or -1 for a free dictionary
  Guid classId{};
  Guid iid{};
  std::vector<std::pair<std::string, DictValue>> values;  // in Put order

  const DictValue* Find(const std::string& key) const;
  void Set(const std::string& key, int32_t type, const void* data, size_t size);
};

// A memory stream with faults on request.
struct Stream : HostStream {
  Host* host = nullptr;
  std::vector<uint8_t> bytes;
  size_t position = 0;
  bool open = false;
  HResult failOpen = 0;   // non-zero: Open returns it
  HResult failRead = 0;   // non-zero: Read returns it after a short read
  HResult failWrite = 0;  // non-zero: Write returns it, nothing written
};

// A drawing surface: a bottom-up DIB section of the platform, selected into a
// memory DC of its own, as a host's offscreen image and stage are.
struct Surface : HostGC {
  Surface() = default;
  ~Surface();
  Surface(const Surface&) = delete;
  Surface& operator=(const Surface&) = delete;

  Host* host = nullptr;
  std::string name;
  int32_t width = 0, height = 0, depth = 0;
  int32_t rowBytes = 0;
  int32_t kind = 1;  // what GetNativeInfo reports as the surface kind
  BITMAPINFOHEADER header{};
  uint8_t* pixels = nullptr;  // memory row 0 is the bottom image row
  HDC dc = nullptr;
  HBITMAP bitmap = nullptr;
  HGDIOBJ previous = nullptr;  // what the DC held before the bitmap

  uint8_t* Row(int32_t imageRow) {
    return pixels + static_cast<ptrdiff_t>(height - 1 - imageRow) * rowBytes;
  }
};

class Host {
 public:
  explicit Host(const std::string& modulePath = DefaultModulePath());
  ~Host();
  Host(const Host&) = delete;
  Host& operator=(const Host&) = delete;

  Module& module() { return *module_; }
  HostAllocator* allocator() { return &allocator_; }
  HostCallback* callback() { return &callback_; }
  HostCache* cache() { return &cache_; }

  // Creates an instance of a module class and returns the requested interface,
  // as the host's CreateInstance does for the module.
  HResult CreateInstance(const Guid& classId, const Guid& iid, void** out);
  // A bare initialised instance holding one reference for the caller, which
  // gives it up with DropInstance; null when the class is unknown.
  ClassInstance* NewInstance(const Guid& classId);

  // The call log: one line per host operation the module called.
  std::vector<std::string> calls;
  std::vector<std::string> CallsStartingWith(const std::string& prefix) const;
  void Record(std::string line);
  bool recording = true;

  // Allocator accounting and faults.
  int64_t liveBlocks() const { return static_cast<int64_t>(blocks_.size()); }
  int64_t liveBytes() const;
  int allocCalls = 0;
  int failAllocAt = 0;  // the Nth Alloc from now fails (1 = the next one); 0: none
  bool failAllAllocs = false;
  int badFrees = 0;  // frees of blocks the allocator never gave out

  // Instances alive and how their reference counts moved.
  struct InstanceRecord {
    Guid classId{};
    TerminateOp terminate = nullptr;
    int32_t refs = 0;
    int addRefs = 0;
    int releases = 0;
    std::vector<uint8_t> storage;
  };
  int liveInstances() const { return static_cast<int>(instances_.size()); }
  InstanceRecord* RecordOf(ClassInstance* instance);
  HResult failCreateInstance = 0;  // non-zero: CreateInstance returns it

  // Registry written through HostCache.
  std::vector<std::unique_ptr<Dict>> registry;
  void* registrationDict = reinterpret_cast<void*>(0x5EED);
  // Put fails with putFault on the given entry index and key.
  int failPutEntry = -1;
  std::string failPutKey;
  HResult putFault = kHostFault;

  std::unique_ptr<Dict> NewDict();
  std::unique_ptr<Stream> NewStream();
  std::unique_ptr<Surface> NewSurface(const std::string& name, int32_t width, int32_t height,
                                      int32_t depth);

  // HostUtilities and the resource bracket.
  bool refuseUtilities = false;
  int utilitiesAlive = 0;
  int openResourceBrackets = 0;
  // Runs a dialog the module asked for; without one, the dialog is not shown.
  std::function<HResult(HMODULE module, int32_t id, DLGPROC proc, LPARAM param)> dialogRunner;

  // Internals used by the interface tables.
  void* Alloc(int32_t bytes);
  HResult Free(void* block);
  HResult QueryCallback(const Guid* iid, void** out);
  UtilitiesObject* NewUtilities();
  int32_t DropInstance(ClassInstance* instance);  // terminates and frees at 0

 private:
  friend struct HostTables;
  std::unique_ptr<Module> module_;
  AllocatorObject allocator_{};
  CallbackObject callback_{};
  CacheObject cache_{};
  std::map<void*, size_t> blocks_;
  std::map<ClassInstance*, std::unique_ptr<InstanceRecord>> instances_;
  ResourceToken nextToken_ = 100;
};

std::string GuidText(const Guid& id);

}  // namespace orvhost
