#!/bin/sh
# Compiles the module's resource script with the resource compiler and checks
# that its dialog templates are byte for byte the compiled-in ones.
#   check_windres.sh <windres> <python3> <source dir> <output .res>
set -e
windres=$1 python=$2 source=$3 out=$4
cd "$source/resources"
"$windres" -O res ORVPACK1.rc "$out"
"$python" "$source/scripts/make-dialogs.py" --res "$out"
