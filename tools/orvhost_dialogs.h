// orvhost's looks at what an author sees: the options dialog, the about box
// and the thumbnail, each drawn to a PNG file on request.
#pragma once

#include "host/stand_in_host.h"

namespace orvhost {

// Each takes the arguments after its command name; 0 on success, 2 for a
// usage error, 1 for any other failure.
int OptionsCommand(Host& host, int argc, char** argv);
int AboutCommand(Host& host, int argc, char** argv);
int ThumbnailCommand(Host& host, int argc, char** argv);

inline constexpr const char* kDialogCommandsUsage =
    "  options [--color N] [--script \"click 1007; enter\"] [--out FILE.png]\n"
    "                the options dialog of a colour member (its media holding N), driven\n"
    "                by the script: click <id>, enter, escape, close\n"
    "  about [--script S] [--out FILE.png]\n"
    "                the about box\n"
    "  thumbnail --out FILE.png [--rect top,left,bottom,right] [--size WxH] [--depth D]\n"
    "            [--zoom Z]\n"
    "                the thumbnail painted into a surface (default rect 0,0,40,60)\n";

}  // namespace orvhost
