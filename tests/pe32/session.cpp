#include "tests/pe32/session.h"

#include <cstdio>
#include <iostream>

#include "asset/transition_asset.h"
#include "module/class_ids.h"
#include "module/class_table.h"
#include "tests/support/asset_peek.h"

using namespace orv::module;
using namespace orvhost;

namespace orvpe32 {

std::string Hex(const void* data, size_t n) {
  static const char digits[] = "0123456789abcdef";
  std::string out;
  for (size_t i = 0; i < n; ++i) {
    const uint8_t b = static_cast<const uint8_t*>(data)[i];
    out += digits[b >> 4];
    out += digits[b & 15];
  }
  return out.empty() ? "-" : out;
}

std::vector<uint8_t> Unhex(const std::string& text) {
  std::vector<uint8_t> out;
  for (size_t i = 0; text != "-" && i + 1 < text.size(); i += 2)
    out.push_back(static_cast<uint8_t>(std::stoul(text.substr(i, 2), nullptr, 16)));
  return out;
}

void Say(const std::string& line) { std::cout << line << "\n"; }

namespace {

uint32_t Crc32(const uint8_t* p, size_t n) {
  uint32_t crc = ~0u;
  for (size_t i = 0; i < n; ++i) {
    crc ^= p[i];
    for (int k = 0; k < 8; ++k) crc = (crc >> 1) ^ (0xEDB88320u & (0u - (crc & 1)));
  }
  return ~crc;
}

void Fill(Surface& s, int index) {
  const size_t n = static_cast<size_t>(s.rowBytes) * static_cast<size_t>(s.height);
  for (size_t i = 0; i < n; ++i)
    s.pixels[i] = static_cast<uint8_t>(i * 31 + index * 101 + (i / 7) * 3);
}

std::string Crc(Surface& s) {
  char text[16];
  std::snprintf(text, sizeof text, "%08x",
                Crc32(s.pixels, static_cast<size_t>(s.rowBytes) * static_cast<size_t>(s.height)));
  return text;
}

}  // namespace

HResult Session::Place(Member& m, int entry) {
  const HResult rc = entry < 0 ? m.Create(host) : m.Place(host, *host.registry.at(entry));
  if (rc == 0 && portable) AssetFieldsOf(m).cpuFeatures.mmx = 0;
  return rc;
}

HResult Session::Save(Member& m, Stream& s) {
  const HResult rc = m.Save(s);
  Say("save " + std::to_string(rc) + " " + Hex(s.bytes.data(), s.bytes.size()));
  return rc;
}

void Session::Classes() {
  ClassInterfaceRecord* records = nullptr;
  Say("info " + std::to_string(host.module().GetClassInfo(host.allocator(), &records)));
  std::vector<Guid> classes;
  for (auto* r = records; r && (r->classId.data1 || r->iid.data1); ++r) {
    Say("record " + GuidText(r->classId) + " " + std::to_string(r->classVersion) + " " +
        GuidText(r->iid) + " " + std::to_string(r->iidVersion));
    if (classes.empty() || !SameGuid(classes.back(), r->classId)) classes.push_back(r->classId);
  }
  if (records) host.Free(records);
  classes.push_back(orv::module::kActorInterfaceId);  // no class: refused
  for (const Guid& id : classes) {
    int32_t size = 0;
    InitializeOp init = nullptr;
    TerminateOp term = nullptr;
    const HResult rc = host.module().GetClassForm(&id, &size, &init, &term);
    Say("form " + GuidText(id) + " " + std::to_string(rc) + " " + std::to_string(init != nullptr) +
        std::to_string(term != nullptr));
  }
  Say("unload " + std::to_string(host.module().CanUnloadNow()) + " object " +
      std::to_string(host.module().GetClassObject(nullptr, nullptr, nullptr)));
}

void Session::Register(int failEntry, const std::string& failKey) {
  host.registry.clear();
  host.failPutEntry = failEntry;
  host.failPutKey = failKey;
  Say("register " + std::to_string(RegisterTransitions(host)));
  host.failPutEntry = -1;
  for (const auto& d : host.registry) {
    Say("entry " + std::to_string(d->index) + " " + GuidText(d->classId) + " " + GuidText(d->iid));
    for (const auto& [key, v] : d->values)
      Say("value " + key + " " + std::to_string(v.type) + " " +
          Hex(v.bytes.data(), v.bytes.size()));
  }
}

void Session::Media(int entry, const std::string& media, const std::string& fault) {
  Member m;
  const HResult placed = Place(m, entry);
  Say("place " + std::to_string(placed) + " size " + std::to_string(m.MediaSize()));
  auto s = host.NewStream();
  HResult code = static_cast<HResult>(0x80040111);
  if (fault == "open") s->failOpen = code;
  if (fault == "write") s->failWrite = code;
  Save(m, *s);
  Member loaded;
  Place(loaded, entry);
  auto in = host.NewStream();
  in->bytes = Unhex(media);
  if (fault == "open") in->failOpen = code;
  if (fault == "read") in->failRead = code;
  Say("load " + std::to_string(loaded.Load(*in)));
  auto out = host.NewStream();
  Save(loaded, *out);
}

void Session::Play(std::istringstream& in) {
  int entry, depth, w, h, chunk, duration, step, failAt;
  HostRect rect;
  std::string media;
  in >> entry >> depth >> w >> h >> rect.top >> rect.left >> rect.bottom >> rect.right >> chunk >>
      duration >> step >> media >> failAt;
  auto window = host.NewSurface("window", w, h, depth);
  auto offscreen = host.NewSurface("offscreen", w, h, depth);
  Fill(*window, 0);
  Fill(*offscreen, 1);
  host.failAllocAt = failAt;
  {
    Member m;
    HResult rc = Place(m, entry);
    auto s = host.NewStream();
    s->bytes = Unhex(media);
    if (rc == 0) rc = m.Load(*s);
    Actor actor;
    if (rc == 0) rc = m.MakeActor(actor);
    Say("actor " + std::to_string(rc));
    if (rc == 0) {
      TransitionParams p{chunk, duration, 0, 0};
      rc = actor.Cue(*window, *offscreen, rect, p);
      Say("cue " + std::to_string(rc) + " " + Crc(*window) + " " + Crc(*offscreen));
      for (int32_t done = 0, k = 0; rc == 0 && !done && k < 1000; ++k, p.elapsed += step) {
        rc = actor.Continue(*window, *offscreen, rect, p, &done);
        Say("step " + std::to_string(rc) + " " + std::to_string(done) + " " + Crc(*window) + " " +
            Crc(*offscreen));
      }
      rc = actor.Finish(*window, *offscreen, rect, p);
      Say("finish " + std::to_string(rc) + " " + Crc(*window) + " " + Crc(*offscreen));
    }
  }
  host.failAllocAt = 0;
}

bool Session::Answer(const std::string& command, std::istringstream& in) {
  if (command == "classes") {
    Classes();
  } else if (command == "register") {
    int entry;
    std::string key;
    in >> entry >> key;
    Register(entry, key);
  } else if (command == "media") {
    int entry;
    std::string media, fault;
    in >> entry >> media >> fault;
    Media(entry, media, fault);
  } else if (command == "play") {
    Play(in);
  } else {
    return false;
  }
  return true;
}

int Serve(Session& session, const char* program,
          const std::function<bool(const std::string&, std::istringstream&)>& other,
          const std::function<void()>& before) {
  std::string line;
  while (std::getline(std::cin, line)) {
    std::istringstream in(line);
    std::string command;
    in >> command;
    Host& host = session.host;
    host.calls.clear();
    if (before) before();
    if (!session.Answer(command, in) && !other(command, in)) {
      std::cerr << program << ": unknown command '" << command << "'\n";
      return 2;
    }
    // The interface object's size is the only host call that names a
    // pointer-sized record: both sides call it by its name.
    for (const std::string& call : host.calls)
      Say("call " +
          (call == "Alloc " + std::to_string(sizeof(InterfaceObject)) ? "Alloc object" : call));
    Say("live " + std::to_string(host.liveBlocks()) + " " + std::to_string(host.liveInstances()) +
        " " + std::to_string(host.utilitiesAlive) + " " +
        std::to_string(host.openResourceBrackets));
    Say("end");
    std::cout.flush();
  }
  return 0;
}

}  // namespace orvpe32
