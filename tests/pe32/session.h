// The commands both sides of a comparison of the 32-bit module answer alike:
// the native module (oracle.cpp, against the emulated DLL) and the shipped
// DLL under Wine (win32_harness.cpp, against the native module). Each
// command's results are printed, then the host calls it caused, then "end".
#pragma once

#include <cstdint>
#include <functional>
#include <sstream>
#include <string>
#include <vector>

#include "host/member.h"
#include "host/stand_in_host.h"

namespace orvpe32 {

std::string Hex(const void* data, size_t n);
std::vector<uint8_t> Unhex(const std::string& text);
void Say(const std::string& line);

struct Session {
  orvhost::Host host;
  bool portable = false;  // the processor has no MMX: nor has the asset

  // Places the member of registry entry `entry` (or a bare one for -1), with
  // the same answer about MMX on both sides.
  orv::module::HResult Place(orvhost::Member& m, int entry);
  orv::module::HResult Save(orvhost::Member& m, orvhost::Stream& s);

  void Classes();
  void Register(int failEntry, const std::string& failKey);
  // Places entry, saves its media, loads `media` into a fresh member of the
  // same entry and saves that again; a stream fault on request.
  void Media(int entry, const std::string& media, const std::string& fault);
  void Play(std::istringstream& in);

  // Answers classes, register, media and play; false for any other command.
  bool Answer(const std::string& command, std::istringstream& in);
};

// Reads commands from standard input until it ends, one a line: `other`
// answers those the session does not (false: unknown, the run stops with 2).
// `before` runs ahead of each command. What the module throws goes to the
// caller.
int Serve(Session& session, const char* program,
          const std::function<bool(const std::string&, std::istringstream&)>& other,
          const std::function<void()>& before = nullptr);

}  // namespace orvpe32
