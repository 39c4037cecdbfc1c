// One whole playback through the loaded module, compared with the model after
// Cue, after every step and after Finish.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "tests/actors/stage.h"
#include "tests/actors/transition_model.h"

namespace actors_test {

using orv::module::HostRect;

struct Play {
  Kind kind;
  int32_t depth, width, height;
  HostRect rect;
  bool mmx;
  int32_t chunkSize, duration, colorChoice;
  uint32_t seed;  // the pictures; a multiple of 3 also starts with an elapsed time below 0
};

// The elapsed times of the steps: 0 up to past the duration.
std::vector<int32_t> ElapsedTimes(int32_t duration, bool beforeTheStart);

std::string Describe(const Play& play);

// False, with a failure that names the first differing byte, when either
// surface differs from the model.
bool SamePictures(const TransitionModel& model, const Stage& stage, const std::string& when);

// The span of the rows the actor captured at Cue (the horizontal wipes keep
// it in their saved record).
Span SpanAfterCue(Actor& actor, Kind kind);

// Plays it: property 1 (colour) and 11 with a pair of the test's own, Cue,
// Continue at each elapsed time until the actor reports done, Finish.
void PlayAndCompare(orvhost::Host& host, const Play& play);

}  // namespace actors_test
