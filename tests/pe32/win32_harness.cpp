// The shipped module under Wine, driven by tests/pe32/wine32.py with the
// commands tests/pe32/oracle.cpp answers for the native module; the lines
// must be the same. Two commands of its own tell which kernel set's code
// ran, since the set the module picked cannot be seen through its exports:
//
//   watch <set>=<rva>,<rva>... ...          the entry points of each set's
//                                           functions, relative to the image
//   ran                                     the sets entered since the last
//                                           "watch" or "ran", lowest first
//
// Each entry point gets a breakpoint byte; the first call through it stops
// in the handler below, which notes the set, puts the code byte back and
// lets the call go on. "ran" sets the breakpoints again.
#define WIN32_LEAN_AND_MEAN
#include <windows.h>

#include <iostream>
#include <map>
#include <set>
#include <stdexcept>
#include <string>

#include "tests/pe32/session.h"

namespace {

struct EntryPoint {
  std::string set;
  BYTE code = 0;
};

std::map<BYTE*, EntryPoint> entries;  // by address in the loaded image
std::vector<std::string> setOrder;    // as "watch" named them
std::set<std::string> entered;

void Poke(BYTE* at, BYTE value) {
  DWORD was = 0;
  VirtualProtect(at, 1, PAGE_EXECUTE_READWRITE, &was);
  *at = value;
  VirtualProtect(at, 1, was, &was);
  FlushInstructionCache(GetCurrentProcess(), at, 1);
}

void Arm() {
  for (auto& [at, entry] : entries)
    if (*at != 0xCC) Poke(at, 0xCC);
}

LONG CALLBACK OnBreakpoint(EXCEPTION_POINTERS* e) {
  if (e->ExceptionRecord->ExceptionCode != EXCEPTION_BREAKPOINT) return EXCEPTION_CONTINUE_SEARCH;
  auto* at = static_cast<BYTE*>(e->ExceptionRecord->ExceptionAddress);
  auto it = entries.find(at);
  if (it == entries.end()) return EXCEPTION_CONTINUE_SEARCH;
  entered.insert(it->second.set);
  Poke(at, it->second.code);
  e->ContextRecord->Eip = reinterpret_cast<DWORD>(at);  // run the call from its first byte
  return EXCEPTION_CONTINUE_EXECUTION;
}

bool Watch(orvpe32::Session& session, std::istringstream& in) {
  auto* image = reinterpret_cast<BYTE*>(session.host.module().handle());
  std::string word;
  while (in >> word) {
    const size_t equals = word.find('=');
    if (equals == std::string::npos) throw std::runtime_error("watch: " + word + " names no set");
    const std::string set = word.substr(0, equals);
    setOrder.push_back(set);
    std::istringstream rvas(word.substr(equals + 1));
    for (std::string rva; std::getline(rvas, rva, ',');) {
      BYTE* at = image + std::stoul(rva, nullptr, 16);
      if (entries.count(at)) throw std::runtime_error("watch: " + rva + " twice");
      entries[at] = EntryPoint{set, *at};
    }
  }
  Arm();
  orvpe32::Say("watch " + std::to_string(entries.size()));
  return true;
}

void Ran() {
  std::string line = "ran";
  for (const std::string& set : setOrder)
    if (entered.count(set)) line += " " + set;
  orvpe32::Say(line);
  entered.clear();
  Arm();
}

// A fault in the module ends the run with its address, rather than waiting
// for the debugger Wine would start.
LONG CALLBACK OnFault(EXCEPTION_POINTERS* e) {
  std::cerr << "win32_harness: exception 0x" << std::hex << e->ExceptionRecord->ExceptionCode
            << " at " << e->ExceptionRecord->ExceptionAddress << std::endl;
  return EXCEPTION_EXECUTE_HANDLER;
}

}  // namespace

int main() {
  SetUnhandledExceptionFilter(OnFault);
  try {
    orvpe32::Session session;
    AddVectoredExceptionHandler(1, OnBreakpoint);
    return orvpe32::Serve(session, "win32_harness",
                          [&](const std::string& command, std::istringstream& in) {
                            if (command == "watch") return Watch(session, in);
                            if (command != "ran") return false;
                            Ran();
                            return true;
                          });
  } catch (const std::exception& e) {
    std::cerr << "win32_harness: " << e.what() << "\n";
    return 1;
  }
}
