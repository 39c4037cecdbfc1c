// The stand-in's reading of a module's dialog templates (DLGTEMPLATE, then
// one DLGITEMTEMPLATE per control), as the system's dialog calls read them.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "platform/standin/window_registry.h"

namespace orv::standin {

struct ItemTemplate {
  DWORD style = 0;
  int16_t x = 0, y = 0, cx = 0, cy = 0;
  WORD id = 0;
  Kind kind = Kind::kOther;
  std::string text;
  int32_t ordinal = -1;  // text given as a resource number (static pictures)
};

struct DialogTemplate {
  DWORD style = 0;
  int16_t x = 0, y = 0, cx = 0, cy = 0;
  std::string caption;
  std::vector<ItemTemplate> items;
};

// Finds dialog template name in module and reads it; false when it is missing,
// cannot be loaded or is malformed.
bool LoadTemplate(HMODULE module, LPCSTR name, DialogTemplate* out);

}  // namespace orv::standin
