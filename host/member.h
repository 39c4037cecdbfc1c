// The host's side of the transitions: registering them, placing a member from
// a registry entry, saving and loading its media, and playing it through an
// actor, all through the loaded module as the host does.
#pragma once

#include <cstdint>

#include "host/stand_in_host.h"
#include "module/module_interface.h"

namespace orvhost {

using orv::module::ActorOps;
using orv::module::AssetOps;
using orv::module::HostRect;
using orv::module::HResult;
using orv::module::InterfaceObject;
using orv::module::OpsOf;
using orv::module::TransitionParams;

// Creates the registrar, has it write its entries into host.registry with
// host.cache() and host.registrationDict, and releases it. Returns Register's
// result, or the code of a failed creation.
HResult RegisterTransitions(Host& host);

// One playback: the actor's interface, released when the Actor goes.
class Actor {
 public:
  Actor() = default;
  explicit Actor(void* object) : object_(static_cast<InterfaceObject*>(object)) {}
  ~Actor() { Release(); }
  Actor(Actor&& other) noexcept : object_(other.object_) { other.object_ = nullptr; }
  Actor& operator=(Actor&& other) noexcept;
  Actor(const Actor&) = delete;
  Actor& operator=(const Actor&) = delete;

  explicit operator bool() const { return object_ != nullptr; }
  InterfaceObject* get() const { return object_; }
  const ActorOps& ops() const { return OpsOf<ActorOps>(object_); }

  HResult Cue(Surface& window, Surface& offscreen, const HostRect& rect,
              const TransitionParams& params);
  HResult Continue(Surface& window, Surface& offscreen, const HostRect& rect,
                   const TransitionParams& params, int32_t* done);
  HResult Finish(Surface& window, Surface& offscreen, const HostRect& rect,
                 const TransitionParams& params);
  void Release();

 private:
  InterfaceObject* object_ = nullptr;
};

// Plays a whole transition as the host's loop does: Cue, then Continue with
// elapsed 0, step, 2 step ... until the actor reports done, then Finish.
// steps (optional) receives the number of Continue calls. Stops at the first
// failing call and returns its code.
HResult Play(Actor& actor, Surface& window, Surface& offscreen, const HostRect& rect,
             TransitionParams params, int32_t step, int* steps = nullptr);

// A transition member placed in a movie: the asset's two interfaces, both
// released when the Member goes.
class Member {
 public:
  Member() = default;
  ~Member() { Release(); }
  Member(const Member&) = delete;
  Member& operator=(const Member&) = delete;

  // Creates the asset, obtains its InitFromDictInterface and hands it the
  // entry, as the host does when the author places a transition.
  HResult Place(Host& host, const Dict& entry);
  // The same without a registry entry: InitFromDict is not called.
  HResult Create(Host& host);

  HResult Save(Stream& stream);
  HResult Load(Stream& stream);
  // The colour transition's ColorChoice, through its media as a saved movie
  // holds it: four bytes, most significant first.
  HResult LoadColorChoice(Host& host, int32_t choice);
  HResult SavedColorChoice(Host& host, int32_t* choice);
  int32_t MediaSize();
  HResult MakeActor(Actor& actor);
  void Release();

  InterfaceObject* asset = nullptr;         // AssetInterface
  InterfaceObject* initFromDict = nullptr;  // InitFromDictInterface
  const AssetOps& ops() const { return OpsOf<AssetOps>(asset); }
};

}  // namespace orvhost
