// orvhost's looks at what an author sees: the options dialog, the about box
// and the thumbnail, each drawn to a PNG file on request.
#pragma once

#include "host/stand_in_host.h"

namespace orvhost {

// Each takes the arguments after its command name and returns 0; a mistake
// in them throws orvtools::UsageError, any other failure std::exception.
int OptionsCommand(Host& host, int argc, char** argv);
int AboutCommand(Host& host, int argc, char** argv);
int ThumbnailCommand(Host& host, int argc, char** argv);

inline constexpr const char* kDialogCommandsUsage =
    "  options [--color N] [--script \"click 1007; enter\"] [--out FILE.png]\n"
    "                the options dialog of a colour member (its media holding N, any\n"
    "                32-bit value), driven by the script: click <id>, enter, escape,\n"
    "                close; an action that does nothing is an error\n"
    "  about [--script S] [--out FILE.png]\n"
    "                the about box\n"
    "  thumbnail --out FILE.png [--rect top,left,bottom,right] [--size WxH] [--depth D]\n"
    "            [--zoom Z]\n"
    "                the thumbnail painted into a surface (default rect 0,0,40,60);\n"
    "                the picture, --size times --zoom (at most 16), at most 16384 on a\n"
    "                side and 8192 x 8192 pixels in all\n"
    "Exit codes: 0 done, 1 could not be done, 2 wrong usage, 128 + N on signal N.\n"
    "--out replaces its file whole or not at all (through a link, the file linked to).\n";

}  // namespace orvhost
