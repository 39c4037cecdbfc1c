// The two pictures orvplay uses when none are given: drawn in code, with hard
// edges, smooth gradients and fine text so that every effect shows.
#pragma once

#include "tools/picture.h"

namespace orvplay {

inline constexpr int32_t kBuiltinWidth = 640;
inline constexpr int32_t kBuiltinHeight = 360;

// A landscape at dusk: sky gradient, sun, mountains, colour bars, "FROM".
Picture BuiltinFromPicture();
// A radial gradient with rings, stripes, a checkerboard, a hue wheel, "TO".
Picture BuiltinToPicture();

}  // namespace orvplay
