// The page that shows every transition orvplay --all made.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace orvplay {

struct GalleryEntry {
  std::string displayName, symbol, category;
  std::string settings;    // how it was played, one line
  std::string gif, sheet;  // file names beside the page
  std::string video;       // the same as a video, if one was made
  int32_t width = 0, height = 0;
  int32_t steps = 0;
};

// The whole page: a title, then each transition's name, settings, video (the
// GIF inside it for browsers without video, or the GIF alone) and contact
// sheet. Texts are escaped; file names are used as relative links.
std::string GalleryPage(const std::string& title, const std::vector<GalleryEntry>& entries);

// Text made safe for HTML content and attribute values.
std::string EscapeHtml(const std::string& text);

}  // namespace orvplay
