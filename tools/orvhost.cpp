// orvhost: looks at the module through the stand-in host, as the host does.
#include <cstdio>
#include <cstring>
#include <exception>
#include <string>

#include "host/member.h"
#include "host/stand_in_host.h"
#include "module/class_ids.h"
#include "module/module_interface.h"
#include "module/transitions.h"
#include "tools/args.h"
#if defined(ORV_DIALOG_COMMANDS)
#include "tools/orvhost_dialogs.h"
#include "tools/safe_output.h"
#endif

using namespace orv::module;

using namespace orvhost;

namespace {

struct NamedId {
  Guid id;
  const char* name;
};
#define ORV_ACTOR_CLASS(Fields, ops, ...) \
  {TransitionRow __VA_ARGS__.classId, TransitionRow __VA_ARGS__.className},
const NamedId kActorClasses[] = {ORV_TRANSITIONS(ORV_ACTOR_CLASS)};
#undef ORV_ACTOR_CLASS
const NamedId kOtherIds[] = {
    {kTransitionRegistrarId, "TransitionRegistrar"},     {kTransitionAssetId, "TransitionAsset"},
    {kRegistrationInterfaceId, "RegistrationInterface"}, {kAssetInterfaceId, "AssetInterface"},
    {kInitFromDictInterfaceId, "InitFromDictInterface"}, {kActorInterfaceId, "ActorInterface"}};

const char* ClassName(const Guid& id) {
  for (const NamedId& n : kActorClasses)
    if (SameGuid(n.id, id)) return n.name;
  for (const NamedId& n : kOtherIds)
    if (SameGuid(n.id, id)) return n.name;
  return "?";
}

// Prints the classes and interfaces the module reports through DllGetClassInfo.
int ListClasses(Host& host) {
  ClassInterfaceRecord* records = nullptr;
  if (HResult rc = host.module().GetClassInfo(host.allocator(), &records)) {
    std::fprintf(stderr, "orvhost: DllGetClassInfo failed with 0x%08X\n",
                 static_cast<unsigned>(rc));
    return 1;
  }
  const Guid zero{};
  for (ClassInterfaceRecord* r = records; !SameGuid(r->classId, zero); ++r) {
    if (SameGuid(r->iid, kClassRecordId)) {
      int32_t size = 0;
      InitializeOp init = nullptr;
      TerminateOp term = nullptr;
      host.module().GetClassForm(&r->classId, &size, &init, &term);
      std::printf("%-20s %s  version 0x%08X  instance %d bytes\n", ClassName(r->classId),
                  GuidText(r->classId).c_str(), r->classVersion, size);
    } else {
      std::printf("  %-22s %s  version 0x%08X\n", ClassName(r->iid), GuidText(r->iid).c_str(),
                  r->iidVersion);
    }
  }
  host.allocator()->ops->Free(host.allocator(), records);
  return 0;
}

// One registry value as text: texts quoted, numbers in decimal, short byte
// values byte by byte with their little-endian number, long ones by size.
std::string ValueText(const DictValue& v) {
  char text[64];
  switch (v.type) {
    case kDictText:
      return "text  \"" + v.AsText() + "\"";
    case kDictInt32:
      return "int32 " + std::to_string(v.AsInt());
    case kDictFlag:
      return "flag  " + std::to_string(v.bytes.empty() ? 0 : v.bytes[0]);
    case kDictBytes:
      if (v.bytes.size() > 4) return "bytes " + std::to_string(v.bytes.size()) + " bytes";
      break;
    default:
      break;
  }
  std::string out = "bytes";
  for (uint8_t b : v.bytes) {
    std::snprintf(text, sizeof text, " %02X", b);
    out += text;
  }
  if (v.bytes.size() == 4) out += " = " + std::to_string(v.AsInt());
  if (v.type != kDictBytes) out += "  (type " + std::to_string(v.type) + ")";
  return out;
}

// Registers the transitions as the host does at start and prints every entry
// read back from the stand-in host's registry.
int ListTransitions(Host& host) {
  if (HResult rc = RegisterTransitions(host)) {
    std::fprintf(stderr, "orvhost: Register failed with 0x%08X\n", static_cast<unsigned>(rc));
    return 1;
  }
  for (const auto& entry : host.registry) {
    std::printf("entry %d  %s %s  %s %s\n", entry->index, ClassName(entry->classId),
                GuidText(entry->classId).c_str(), ClassName(entry->iid),
                GuidText(entry->iid).c_str());
    for (const auto& [key, value] : entry->values)
      std::printf("  %-28s %s\n", key.c_str(), ValueText(value).c_str());
  }
  return 0;
}

void Usage(FILE* to) {
  std::fprintf(to,
               "usage: orvhost classes|transitions|--version\n"
               "  classes       the module's classes and interfaces, as the host reads them\n"
               "  transitions   the registry entries that the module registers\n");
#if defined(ORV_DIALOG_COMMANDS)
  std::fprintf(to, "%s", kDialogCommandsUsage);
#endif
}

int RunCommand(int argc, char** argv) {
  const std::string command = argv[1];
  if (command == "-h" || command == "--help") {
    orvtools::Args(argc - 2, argv + 2, {}).AtMostPositional(0, command);
    Usage(stdout);
    return 0;
  }
  if (command == "--version") {
    orvtools::Args(argc - 2, argv + 2, {}).AtMostPositional(0, command);
    std::printf("orvhost %s\n", ORV_VERSION);
    return 0;
  }
  Host host;
  host.recording = false;
  if (command == "classes" || command == "transitions") {
    orvtools::Args(argc - 2, argv + 2, {}).AtMostPositional(0, command);
    return command == "classes" ? ListClasses(host) : ListTransitions(host);
  }
#if defined(ORV_DIALOG_COMMANDS)
  if (command == "options") return OptionsCommand(host, argc - 2, argv + 2);
  if (command == "about") return AboutCommand(host, argc - 2, argv + 2);
  if (command == "thumbnail") return ThumbnailCommand(host, argc - 2, argv + 2);
#endif
  throw orvtools::UsageError("unknown command '" + command + "'");
}

}  // namespace

int main(int argc, char** argv) {
  orvtools::OpenStandardDescriptors();
  if (argc < 2) {
    Usage(stderr);
    return orvtools::kExitUsage;
  }
#if defined(ORV_DIALOG_COMMANDS)
  orvtools::CatchStopSignals();
#endif
  try {
    const int code = RunCommand(argc, argv);
    orvtools::FinishStandardOutput();
    return code;
  } catch (const orvtools::UsageError& e) {
    std::fprintf(stderr, "orvhost: %s\n(orvhost --help shows the commands)\n", e.what());
    return orvtools::kExitUsage;
  } catch (const std::exception& e) {
#if defined(ORV_DIALOG_COMMANDS)
    if (const int signal = orvtools::StopSignal()) {
      std::fprintf(stderr, "orvhost: %s\n", orvtools::Stopped(signal).what());
      return 128 + signal;
    }
#endif
    std::fprintf(stderr, "orvhost: %s\n", e.what());
    return orvtools::kExitFailed;
  }
}
