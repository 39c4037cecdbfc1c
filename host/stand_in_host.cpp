#include "host/stand_in_host.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <stdexcept>

#include "module/module_interface.h"

#if defined(_WIN32)
#define WIN32_LEAN_AND_MEAN
#include <windows.h>
#else
#if !defined(ORV_HOST_LINKED_MODULE)
#include <dlfcn.h>
#endif
#include <unistd.h>

#include <climits>
#endif

using namespace orv::module;

namespace orvhost {

std::string GuidText(const Guid& id) {
  char text[40];
  std::snprintf(text, sizeof text, "{%08X-%04X-%04X-%02X%02X-%02X%02X%02X%02X%02X%02X}", id.data1,
                id.data2, id.data3, id.data4[0], id.data4[1], id.data4[2], id.data4[3], id.data4[4],
                id.data4[5], id.data4[6], id.data4[7]);
  return text;
}

// ---- the module file ----

std::string DefaultModulePath() {
  if (const char* path = std::getenv("ORV_MODULE")) return path;
#if defined(_WIN32)
  char exe[MAX_PATH];
  DWORD n = GetModuleFileNameA(nullptr, exe, MAX_PATH);
  std::string dir(exe, n);
  return dir.substr(0, dir.find_last_of("\\/") + 1) + "ORVPACK1.x32";
#else
  char exe[PATH_MAX];
  ssize_t n = readlink("/proc/self/exe", exe, sizeof exe - 1);
  std::string dir = n > 0 ? std::string(exe, static_cast<size_t>(n)) : std::string("./x");
  return dir.substr(0, dir.find_last_of('/') + 1) + "ORVPACK1.x32";
#endif
}

#if defined(ORV_HOST_LINKED_MODULE)
}  // namespace orvhost

// The module's exports, linked into this program.
ORV_EXPORT HResult ORV_CALL DllGetClassForm(const Guid*, int32_t*, InitializeOp*, TerminateOp*);
ORV_EXPORT HResult ORV_CALL DllGetInterface(ClassInstance*, const Guid*, const Guid*, void**);
ORV_EXPORT HResult ORV_CALL DllGetClassInfo(HostAllocator*, ClassInterfaceRecord**);
ORV_EXPORT HResult ORV_CALL DllCanUnloadNow();
ORV_EXPORT HResult ORV_CALL DllGetClassObject(void*, void*, void*);

namespace orvhost {

// Where nothing can be loaded at run time, the module is part of the program:
// the path names nothing and there is nothing to unload.
Module::Module(const std::string&)
    : GetClassForm(DllGetClassForm),
      GetInterface(DllGetInterface),
      GetClassInfo(DllGetClassInfo),
      CanUnloadNow(DllCanUnloadNow),
      GetClassObject(DllGetClassObject) {}

Module::~Module() = default;
#else
namespace {
template <class Fn>
void Resolve(void* handle, const char* name, Fn& fn) {
#if defined(_WIN32)
  fn = reinterpret_cast<Fn>(
      reinterpret_cast<void*>(GetProcAddress(static_cast<HMODULE>(handle), name)));
#else
  fn = reinterpret_cast<Fn>(dlsym(handle, name));
#endif
  if (!fn) throw std::runtime_error(std::string("the module does not export ") + name);
}
}  // namespace

Module::Module(const std::string& path) {
#if defined(_WIN32)
  handle_ = LoadLibraryA(path.c_str());
  if (!handle_) throw std::runtime_error("cannot load " + path);
#else
  handle_ = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
  if (!handle_) throw std::runtime_error("cannot load " + path + ": " + dlerror());
#endif
  Resolve(handle_, "DllGetClassForm", GetClassForm);
  Resolve(handle_, "DllGetInterface", GetInterface);
  Resolve(handle_, "DllGetClassInfo", GetClassInfo);
  Resolve(handle_, "DllCanUnloadNow", CanUnloadNow);
  Resolve(handle_, "DllGetClassObject", GetClassObject);
}

Module::~Module() {
  // Like the host, unload only when the module allows it.
  if (CanUnloadNow() != 0) return;
#if defined(_WIN32)
  FreeLibrary(static_cast<HMODULE>(handle_));
#else
  dlclose(handle_);
#endif
}
#endif

// ---- values ----

int32_t DictValue::AsInt() const {
  int32_t v = 0;
  if (!bytes.empty()) std::memcpy(&v, bytes.data(), std::min<size_t>(4, bytes.size()));
  return v;
}

std::string DictValue::AsText() const { return std::string(bytes.begin(), bytes.end()); }

const DictValue* Dict::Find(const std::string& key) const {
  for (const auto& [k, v] : values)
    if (k == key) return &v;
  return nullptr;
}

void Dict::Set(const std::string& key, int32_t type, const void* data, size_t size) {
  DictValue value{type, {}};
  auto* p = static_cast<const uint8_t*>(data);
  value.bytes.assign(p, p + size);
  for (auto& [k, v] : values)
    if (k == key) {
      v = value;
      return;
    }
  values.emplace_back(key, value);
}

// ---- the interface tables the module calls ----

struct HostTables {
  template <class T>
  static Host* HostOf(T* self) {
    return static_cast<decltype(HostOfType(self))>(self)->host;
  }
  static AllocatorObject* HostOfType(HostAllocator*);
  static CallbackObject* HostOfType(HostCallback*);
  static UtilitiesObject* HostOfType(HostUtilities*);
  static CacheObject* HostOfType(HostCache*);
  static Dict* HostOfType(HostDict*);
  static Stream* HostOfType(HostStream*);
  static Surface* HostOfType(HostGC*);

  // Host objects other than instances and utilities live as long as the host;
  // their reference counts are not tracked.
  template <class T>
  static HResult ORV_CALL NoQuery(T* self, const Guid* iid, void**) {
    HostOf(self)->Record("QueryInterface unsupported " + GuidText(*iid));
    return orv::module::kNoInterface;
  }
  template <class T>
  static uint32_t ORV_CALL Fixed(T*) {
    return 1;
  }

  // ClassInstance.
  static HResult ORV_CALL InstanceQuery(ClassInstance* self, const Guid* iid, void** out);
  static uint32_t ORV_CALL InstanceAddRef(ClassInstance* self);
  static uint32_t ORV_CALL InstanceRelease(ClassInstance* self);

  // HostAllocator.
  static void* ORV_CALL Alloc(HostAllocator* self, int32_t bytes) {
    return HostOf(self)->Alloc(bytes);
  }
  static HResult ORV_CALL Free(HostAllocator* self, void* block) {
    return HostOf(self)->Free(block);
  }

  // HostCallback.
  static HResult ORV_CALL CallbackQuery(HostCallback* self, const Guid* iid, void** out) {
    return HostOf(self)->QueryCallback(iid, out);
  }
  static HResult ORV_CALL CreateInstance(HostCallback* self, const Guid* classId, const Guid* iid,
                                         void** out) {
    Host* host = HostOf(self);
    host->Record("CreateInstance " + GuidText(*classId));
    if (host->failCreateInstance) return host->failCreateInstance;
    return host->CreateInstance(*classId, *iid, out);
  }
  static HMODULE ORV_CALL BeginUsingResources(HostCallback* self, HMODULE module,
                                              ResourceToken* token) {
    Host* host = HostOf(self);
    host->Record("BeginUsingResources");
    ++host->openResourceBrackets;
    *token = host->nextToken_++;
    return module;
  }
  static HResult ORV_CALL EndUsingResources(HostCallback* self, HMODULE, ResourceToken token) {
    Host* host = HostOf(self);
    host->Record("EndUsingResources " + std::to_string(token));
    --host->openResourceBrackets;
    return 0;
  }

  // HostUtilities.
  static uint32_t ORV_CALL UtilitiesAddRef(HostUtilities* self) {
    auto* u = static_cast<UtilitiesObject*>(self);
    return static_cast<uint32_t>(++u->refs);
  }
  static uint32_t ORV_CALL UtilitiesRelease(HostUtilities* self) {
    auto* u = static_cast<UtilitiesObject*>(self);
    Host* host = u->host;
    host->Record("Utilities.Release");
    int32_t refs = --u->refs;
    if (refs == 0) {
      --host->utilitiesAlive;
      delete u;
    }
    return static_cast<uint32_t>(refs);
  }
  static HResult ORV_CALL RunDialog(HostUtilities* self, HMODULE module, int32_t id, DLGPROC proc) {
    Host* host = HostOf(self);
    host->Record("RunDialog " + std::to_string(id));
    return host->dialogRunner ? host->dialogRunner(module, id, proc, 0) : 0;
  }
  static HResult ORV_CALL RunDialogParam(HostUtilities* self, HMODULE module, int32_t id,
                                         DLGPROC proc, LPARAM param) {
    Host* host = HostOf(self);
    host->Record("RunDialogParam " + std::to_string(id));
    return host->dialogRunner ? host->dialogRunner(module, id, proc, param) : 0;
  }

  // HostCache.
  static HResult ORV_CALL AddRegistryEntry(HostCache* self, void* registrationDict,
                                           const Guid* classId, const Guid* iid, HostDict** entry) {
    Host* host = HostOf(self);
    host->Record("AddRegistryEntry " + GuidText(*classId) + " " + GuidText(*iid));
    if (registrationDict != host->registrationDict) return kHostFault;
    auto dict = host->NewDict();
    dict->index = static_cast<int>(host->registry.size());
    dict->classId = *classId;
    dict->iid = *iid;
    *entry = dict.get();
    host->registry.push_back(std::move(dict));
    return 0;
  }

  // HostDict.
  static HResult ORV_CALL Get(HostDict* self, int32_t type, void* buffer, int32_t size,
                              const char* key) {
    auto* dict = static_cast<Dict*>(self);
    dict->host->Record("Get " + std::string(key));
    const DictValue* value = dict->Find(key);
    if (!value) return kHostNotFound;
    size_t n = value->bytes.size();
    if (type == kDictInt32) n = 4;
    if (type == kDictBytes || type == kDictFlag) n = std::min<size_t>(n, static_cast<size_t>(size));
    std::memset(buffer, 0, n);
    if (!value->bytes.empty())
      std::memcpy(buffer, value->bytes.data(), std::min(n, value->bytes.size()));
    if (type == kDictText) static_cast<char*>(buffer)[n] = 0;
    return 0;
  }
  static HResult ORV_CALL Put(HostDict* self, int32_t type, const void* data, int32_t size,
                              const char* key) {
    auto* dict = static_cast<Dict*>(self);
    Host* host = dict->host;
    host->Record("Put " + std::string(key) + " " + std::to_string(type) + " " +
                 std::to_string(size));
    if (dict->index == host->failPutEntry && key == host->failPutKey) return host->putFault;
    switch (type) {
      case kDictInt32:
        dict->Set(key, type, data, 4);
        break;
      case kDictText:
        dict->Set(key, type, data, std::strlen(static_cast<const char*>(data)));
        break;
      default:
        dict->Set(key, type, data, static_cast<size_t>(size));
        break;
    }
    return 0;
  }

  // HostStream.
  static HResult ORV_CALL Open(HostStream* self, int32_t mode, int32_t) {
    auto* s = static_cast<Stream*>(self);
    s->host->Record("Open " + std::to_string(mode));
    if (s->failOpen) return s->failOpen;
    s->open = true;
    s->position = 0;
    if (mode == kStreamWrite) s->bytes.clear();
    return 0;
  }
  static HResult ORV_CALL Close(HostStream* self) {
    auto* s = static_cast<Stream*>(self);
    s->host->Record("Close");
    s->open = false;
    return 0;
  }
  static HResult ORV_CALL Read(HostStream* self, void* buffer, int32_t bytes, int32_t) {
    auto* s = static_cast<Stream*>(self);
    s->host->Record("Read " + std::to_string(bytes));
    size_t want = static_cast<size_t>(bytes);
    size_t n = std::min(want, s->bytes.size() - s->position);
    if (s->failRead) n = std::min<size_t>(n, 1);  // a short read, then the fault
    if (n > 0) std::memcpy(buffer, s->bytes.data() + s->position, n);
    s->position += n;
    if (s->failRead) return s->failRead;
    return n == want ? 0 : kHostFault;
  }
  static HResult ORV_CALL Write(HostStream* self, const void* buffer, int32_t bytes, int32_t) {
    auto* s = static_cast<Stream*>(self);
    s->host->Record("Write " + std::to_string(bytes));
    if (s->failWrite) return s->failWrite;
    auto* p = static_cast<const uint8_t*>(buffer);
    s->bytes.insert(s->bytes.end(), p, p + bytes);
    return 0;
  }

  // HostGC.
  static HResult ORV_CALL GetDepth(HostGC* self, int32_t* bits) {
    auto* s = static_cast<Surface*>(self);
    s->host->Record("GetDepth " + s->name);
    *bits = s->depth;
    return 0;
  }
  static HResult ORV_CALL GetNativeInfo(HostGC* self, NativeInfo* info) {
    auto* s = static_cast<Surface*>(self);
    s->host->Record("GetNativeInfo " + s->name);
    *info = NativeInfo{s->kind, s->dc, &s->header, s->pixels, 0};
    return 0;
  }
  static HResult ORV_CALL Blit(HostGC* self, const HostRect* target, HostGC* source,
                               const HostRect* sourceRect, int32_t, int32_t, int32_t);
};

namespace {
const ClassInstanceOps kInstanceOps{HostTables::InstanceQuery, HostTables::InstanceAddRef,
                                    HostTables::InstanceRelease};
const HostAllocatorOps kAllocatorOps{
    HostTables::NoQuery<HostAllocator>, HostTables::Fixed<HostAllocator>,
    HostTables::Fixed<HostAllocator>, HostTables::Alloc, HostTables::Free};
const HostCallbackOps kCallbackOps{HostTables::CallbackQuery,
                                   HostTables::Fixed<HostCallback>,
                                   HostTables::Fixed<HostCallback>,
                                   HostTables::CreateInstance,
                                   nullptr,
                                   HostTables::BeginUsingResources,
                                   HostTables::EndUsingResources};
const HostCacheOps kCacheOps{HostTables::NoQuery<HostCache>,
                             HostTables::Fixed<HostCache>,
                             HostTables::Fixed<HostCache>,
                             nullptr,
                             nullptr,
                             nullptr,
                             nullptr,
                             HostTables::AddRegistryEntry};
const HostDictOps kDictOps{HostTables::NoQuery<HostDict>,
                           HostTables::Fixed<HostDict>,
                           HostTables::Fixed<HostDict>,
                           nullptr,
                           nullptr,
                           HostTables::Get,
                           HostTables::Put};
const HostStreamOps kStreamOps{HostTables::NoQuery<HostStream>,
                               HostTables::Fixed<HostStream>,
                               HostTables::Fixed<HostStream>,
                               HostTables::Open,
                               HostTables::Close,
                               HostTables::Read,
                               nullptr,
                               HostTables::Write};
const HostGCOps kGCOps{HostTables::NoQuery<HostGC>,
                       HostTables::Fixed<HostGC>,
                       HostTables::Fixed<HostGC>,
                       nullptr,
                       HostTables::GetDepth,
                       HostTables::GetNativeInfo,
                       nullptr,
                       HostTables::Blit};

HostUtilitiesOps MakeUtilitiesOps() {
  HostUtilitiesOps ops{};
  ops.QueryInterface = HostTables::NoQuery<HostUtilities>;
  ops.AddRef = HostTables::UtilitiesAddRef;
  ops.Release = HostTables::UtilitiesRelease;
  ops.RunDialog = HostTables::RunDialog;
  ops.RunDialogParam = HostTables::RunDialogParam;
  return ops;
}
const HostUtilitiesOps kUtilitiesOps = MakeUtilitiesOps();
}  // namespace

HResult ORV_CALL HostTables::InstanceQuery(ClassInstance* self, const Guid* iid, void** out) {
  Host* host = static_cast<CallbackObject*>(self->callback)->host;
  Host::InstanceRecord* record = host->RecordOf(self);
  host->Record("instance.QueryInterface " + GuidText(*iid));
  return host->module().GetInterface(self, &record->classId, iid, out);
}

uint32_t ORV_CALL HostTables::InstanceAddRef(ClassInstance* self) {
  Host* host = static_cast<CallbackObject*>(self->callback)->host;
  Host::InstanceRecord* record = host->RecordOf(self);
  host->Record("instance.AddRef");
  ++record->addRefs;
  return static_cast<uint32_t>(++record->refs);
}

uint32_t ORV_CALL HostTables::InstanceRelease(ClassInstance* self) {
  Host* host = static_cast<CallbackObject*>(self->callback)->host;
  host->Record("instance.Release");
  ++host->RecordOf(self)->releases;
  return static_cast<uint32_t>(host->DropInstance(self));
}

HResult ORV_CALL HostTables::Blit(HostGC* self, const HostRect* target, HostGC* source,
                                  const HostRect* sourceRect, int32_t, int32_t, int32_t) {
  auto* dst = static_cast<Surface*>(self);
  auto* src = static_cast<Surface*>(source);
  dst->host->Record("Blit " + src->name + " -> " + dst->name);
  if (dst->depth != src->depth) return kHostFault;
  const int64_t bpp = dst->header.biBitCount / 8;
  // Offsets into the rectangles that land inside both surfaces.
  auto span = [](int64_t t, int64_t s, int64_t extent, int64_t tLimit, int64_t sLimit) {
    const int64_t from = std::max<int64_t>({0, -t, -s});
    const int64_t to = std::min<int64_t>({extent, tLimit - t, sLimit - s});
    return std::pair{from, to};
  };
  const auto [x0, x1] = span(target->left, sourceRect->left, int64_t{target->right} - target->left,
                             dst->width, src->width);
  const auto [y0, y1] = span(target->top, sourceRect->top, int64_t{target->bottom} - target->top,
                             dst->height, src->height);
  for (int64_t y = y0; y < y1 && x0 < x1; ++y)
    std::memcpy(dst->Row(static_cast<int32_t>(target->top + y)) + (target->left + x0) * bpp,
                src->Row(static_cast<int32_t>(sourceRect->top + y)) + (sourceRect->left + x0) * bpp,
                static_cast<size_t>((x1 - x0) * bpp));
  return 0;
}

// ---- the host ----

Host::Host(const std::string& modulePath) : module_(std::make_unique<Module>(modulePath)) {
  allocator_.ops = &kAllocatorOps;
  allocator_.host = this;
  callback_.ops = &kCallbackOps;
  callback_.host = this;
  cache_.ops = &kCacheOps;
  cache_.host = this;
}

Host::~Host() {
  for (auto& [block, size] : blocks_) std::free(block);
  // Instances still alive are the module's leak, but their memory is ours.
  instances_.clear();
}

void Host::Record(std::string line) {
  if (recording) calls.push_back(std::move(line));
}

std::vector<std::string> Host::CallsStartingWith(const std::string& prefix) const {
  std::vector<std::string> out;
  for (const auto& c : calls)
    if (c.rfind(prefix, 0) == 0) out.push_back(c);
  return out;
}

int64_t Host::liveBytes() const {
  int64_t total = 0;
  for (const auto& [block, size] : blocks_) total += static_cast<int64_t>(size);
  return total;
}

void* Host::Alloc(int32_t bytes) {
  Record("Alloc " + std::to_string(bytes));
  ++allocCalls;
  if (failAllAllocs) return nullptr;
  if (failAllocAt > 0 && --failAllocAt == 0) return nullptr;
  if (bytes < 0) return nullptr;
  void* block = std::malloc(static_cast<size_t>(bytes) + 1);
  blocks_[block] = static_cast<size_t>(bytes);
  return block;
}

HResult Host::Free(void* block) {
  Record("Free");
  auto it = blocks_.find(block);
  if (it == blocks_.end()) {
    ++badFrees;
    return kHostFault;
  }
  // Poison the block so that a use after free shows at once.
  std::memset(block, 0xDD, it->second);
  std::free(block);
  blocks_.erase(it);
  return 0;
}

Host::InstanceRecord* Host::RecordOf(ClassInstance* instance) {
  auto it = instances_.find(instance);
  if (it == instances_.end()) throw std::logic_error("the module used an unknown instance");
  return it->second.get();
}

ClassInstance* Host::NewInstance(const Guid& classId) {
  int32_t size = 0;
  InitializeOp initialize = nullptr;
  TerminateOp terminate = nullptr;
  if (module_->GetClassForm(&classId, &size, &initialize, &terminate) != 0) return nullptr;
  if (size < static_cast<int32_t>(sizeof(ClassInstance))) return nullptr;

  auto record = std::make_unique<InstanceRecord>();
  record->classId = classId;
  record->terminate = terminate;
  record->refs = 1;  // the caller's
  record->storage.assign(static_cast<size_t>(size), 0);
  auto* instance = reinterpret_cast<ClassInstance*>(record->storage.data());
  instance->ops = &kInstanceOps;
  instance->hostWord2 = reinterpret_cast<intptr_t>(record.get());
  instance->callback = &callback_;
  instance->allocator = &allocator_;
  instances_[instance] = std::move(record);
  if (initialize(instance) != 0) {
    DropInstance(instance);
    return nullptr;
  }
  return instance;
}

HResult Host::CreateInstance(const Guid& classId, const Guid& iid, void** out) {
  ClassInstance* instance = NewInstance(classId);
  if (!instance) return orv::module::kNoClass;
  const HResult rc = module_->GetInterface(instance, &classId, &iid, out);
  DropInstance(instance);  // the interface object now keeps it alive
  return rc;
}

int32_t Host::DropInstance(ClassInstance* instance) {
  InstanceRecord* record = RecordOf(instance);
  const int32_t refs = --record->refs;
  if (refs == 0) {
    Record("terminate " + GuidText(record->classId));
    record->terminate(instance);
    instances_.erase(instance);
  }
  return refs;
}

HResult Host::QueryCallback(const Guid* iid, void** out) {
  if (!SameGuid(*iid, kHostUtilitiesId)) {
    Record("callback.QueryInterface unsupported " + GuidText(*iid));
    return orv::module::kNoInterface;
  }
  Record("callback.QueryInterface HostUtilities");
  if (refuseUtilities) return orv::module::kNoInterface;
  *out = NewUtilities();
  return 0;
}

UtilitiesObject* Host::NewUtilities() {
  auto* u = new UtilitiesObject{};
  u->ops = &kUtilitiesOps;
  u->host = this;
  u->refs = 1;
  ++utilitiesAlive;
  return u;
}

std::unique_ptr<Dict> Host::NewDict() {
  auto dict = std::make_unique<Dict>();
  dict->ops = &kDictOps;
  dict->host = this;
  dict->index = -1;
  return dict;
}

std::unique_ptr<Stream> Host::NewStream() {
  auto stream = std::make_unique<Stream>();
  stream->ops = &kStreamOps;
  stream->host = this;
  return stream;
}

std::unique_ptr<Surface> Host::NewSurface(const std::string& name, int32_t width, int32_t height,
                                          int32_t depth) {
  auto s = std::make_unique<Surface>();
  s->ops = &kGCOps;
  s->host = this;
  s->name = name;
  s->width = width;
  s->height = height;
  s->depth = depth;
  const int32_t bits = depth <= 8 ? 8 : depth == 24 ? 24 : depth == 32 ? 32 : 16;
  s->rowBytes = ((width * bits + 31) / 32) * 4;
  s->header =
      BITMAPINFOHEADER{40, width, height, 1, static_cast<WORD>(bits), BI_RGB, 0, 0, 0, 0, 0};
  // 8-bit images get a grey palette.
  struct {
    BITMAPINFOHEADER header;
    RGBQUAD colours[256];
  } info{s->header, {}};
  for (int i = 0; i < 256; ++i) {
    const auto v = static_cast<BYTE>(i);
    info.colours[i] = RGBQUAD{v, v, v, 0};
  }
  void* pixelBlock = nullptr;
  s->dc = CreateCompatibleDC(nullptr);
  s->bitmap = CreateDIBSection(s->dc, reinterpret_cast<const BITMAPINFO*>(&info), DIB_RGB_COLORS,
                               &pixelBlock, nullptr, 0);
  if (!s->dc) throw std::runtime_error("no device context for surface " + name);
  // The size is one the host takes, so a section that cannot be made is
  // memory the process cannot have.
  if (!s->bitmap)
    throw std::runtime_error("out of memory for the " + std::to_string(width) + " x " +
                             std::to_string(height) + " surface " + name);
  s->previous = SelectObject(s->dc, s->bitmap);
  s->pixels = static_cast<uint8_t*>(pixelBlock);
  return s;
}

Surface::~Surface() {
  if (dc && previous) SelectObject(dc, previous);
  if (bitmap) DeleteObject(bitmap);
  if (dc) DeleteDC(dc);
}

}  // namespace orvhost
