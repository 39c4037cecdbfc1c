#include "host/member.h"

#include "module/class_ids.h"

using namespace orv::module;

namespace orvhost {

namespace {
template <class T>
void ReleaseObject(T*& object) {
  if (!object) return;
  BaseOpsOf(object).Release(object);
  object = nullptr;
}
}  // namespace

HResult RegisterTransitions(Host& host) {
  void* object = nullptr;
  if (HResult rc = host.CreateInstance(orv::module::kTransitionRegistrarId,
                                       orv::module::kRegistrationInterfaceId, &object))
    return rc;
  auto* registrar = static_cast<InterfaceObject*>(object);
  const HResult rc =
      OpsOf<RegistrationOps>(registrar).Register(registrar, host.cache(), host.registrationDict);
  ReleaseObject(registrar);
  return rc;
}

// ---- Actor ----

Actor& Actor::operator=(Actor&& other) noexcept {
  if (this != &other) {
    Release();
    object_ = other.object_;
    other.object_ = nullptr;
  }
  return *this;
}

HResult Actor::Cue(Surface& window, Surface& offscreen, const HostRect& rect,
                   const TransitionParams& params) {
  return ops().Cue(object_, &window, &offscreen, &rect, &params);
}

HResult Actor::Continue(Surface& window, Surface& offscreen, const HostRect& rect,
                        const TransitionParams& params, int32_t* done) {
  return ops().Continue(object_, &window, &offscreen, &rect, &params, done);
}

HResult Actor::Finish(Surface& window, Surface& offscreen, const HostRect& rect,
                      const TransitionParams& params) {
  return ops().Finish(object_, &window, &offscreen, &rect, &params);
}

void Actor::Release() { ReleaseObject(object_); }

HResult Play(Actor& actor, Surface& window, Surface& offscreen, const HostRect& rect,
             TransitionParams params, int32_t step, int* steps) {
  int count = 0;
  if (steps) *steps = 0;
  if (HResult rc = actor.Cue(window, offscreen, rect, params)) return rc;
  for (int32_t done = 0; !done; params.elapsed += step) {
    if (HResult rc = actor.Continue(window, offscreen, rect, params, &done)) return rc;
    if (steps) *steps = ++count;
  }
  return actor.Finish(window, offscreen, rect, params);
}

// ---- Member ----

HResult Member::Create(Host& host) {
  Release();
  void* object = nullptr;
  if (HResult rc = host.CreateInstance(orv::module::kTransitionAssetId,
                                       orv::module::kAssetInterfaceId, &object))
    return rc;
  asset = static_cast<InterfaceObject*>(object);
  object = nullptr;
  if (HResult rc =
          BaseOpsOf(asset).QueryInterface(asset, &orv::module::kInitFromDictInterfaceId, &object)) {
    Release();
    return rc;
  }
  initFromDict = static_cast<InterfaceObject*>(object);
  return 0;
}

HResult Member::Place(Host& host, const Dict& entry) {
  if (HResult rc = Create(host)) return rc;
  // InitFromDict only reads the entry.
  return OpsOf<InitFromDictOps>(initFromDict).InitFromDict(initFromDict, const_cast<Dict*>(&entry));
}

HResult Member::Save(Stream& stream) { return ops().SaveMedia(asset, &stream); }

HResult Member::Load(Stream& stream) { return ops().LoadMedia(asset, &stream); }

HResult Member::LoadColorChoice(Host& host, int32_t choice) {
  auto stream = host.NewStream();
  const auto v = static_cast<uint32_t>(choice);
  stream->bytes = {static_cast<uint8_t>(v >> 24), static_cast<uint8_t>(v >> 16),
                   static_cast<uint8_t>(v >> 8), static_cast<uint8_t>(v)};
  return Load(*stream);
}

HResult Member::SavedColorChoice(Host& host, int32_t* choice) {
  auto stream = host.NewStream();
  if (HResult rc = Save(*stream)) return rc;
  if (stream->bytes.size() != 4) return kHostFault;  // not the colour transition
  const std::vector<uint8_t>& b = stream->bytes;
  *choice = static_cast<int32_t>(uint32_t{b[0]} << 24 | uint32_t{b[1]} << 16 | uint32_t{b[2]} << 8 |
                                 b[3]);
  return 0;
}

int32_t Member::MediaSize() {
  int32_t bytes = -1;
  ops().QueryMediaSize(asset, &bytes);
  return bytes;
}

HResult Member::MakeActor(Actor& actor) {
  void* object = nullptr;
  if (HResult rc = ops().MakeActor(asset, &object)) return rc;
  actor = Actor(object);
  return 0;
}

void Member::Release() {
  ReleaseObject(initFromDict);
  ReleaseObject(asset);
}

}  // namespace orvhost
