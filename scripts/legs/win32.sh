# The 32-bit Windows module as scripts/build-windows builds it, checked as the
# host and Windows see the file: machine, exports and their calling convention,
# imported DLLs, every resource with its exact size, the version resource and
# the PE checksum; then the release: scripts/release here and in a copy of the
# sources in another folder, built from nothing, must give the same bytes, and
# the zip's preview.html, opened from disk alone in headless Chromium, must play
# a transition with each WebAssembly build (tests/browser/zip_page_check.py).
#
# Allowed imports are the system's own DLLs: KERNEL32, USER32, GDI32 and
# msvcrt. msvcrt.dll is the C runtime that ships in the system folder of every
# Windows version the host runs on, so it needs no redistributable; libgcc,
# libstdc++ and winpthread are linked in statically and must not appear.
#
# tools/peres.py reads the file through Debian's pefile, which is in the
# packages of /usr/bin/python3 (the python3 first on PATH may be another).
leg_win32() {
  # The release builds the page too (scripts/build-site): emscripten, node.
  need_packages cmake ninja-build python3 python3-pefile g++-mingw-w64-i686 binutils-mingw-w64-i686 \
    googletest emscripten nodejs chromium
  echo "-- peres: its dialog reader and commands on a known module"
  /usr/bin/python3 tools/peres_test.py
  JOBS=$jobs scripts/build-windows
  check_win32_module build-win32/bin/ORVPACK1.x32
  check_win32_release
}

win32_fail() {
  echo "FAIL: $*" >&2
  return 1
}

check_win32_module() {
  local dll=$1 objdump=i686-w64-mingw32-objdump peres="/usr/bin/python3 tools/peres.py"
  local headers failed=0
  headers=$($objdump -p "$dll")

  echo "-- machine"
  $objdump -f "$dll" | grep -q "file format pei-i386" || win32_fail "$dll is not pei-i386" || failed=1

  echo "-- exports"
  # Each name with the stack bytes its stdcall form pops on return.
  local -A pops=([DllGetClassForm]=16 [DllGetInterface]=16 [DllGetClassInfo]=8
    [DllCanUnloadNow]=0 [DllGetClassObject]=12)
  local names rvas base name index addr ret want
  names=$(awk '/^\[Ordinal\/Name Pointer\] Table/ {on=1; next} on && NF==0 {on=0}
    on {gsub(/[][]/, ""); print $1, $2}' <<<"$headers")
  rvas=$(awk '/^Export Address Table -- Ordinal Base/ {on=1; next} on && NF==0 {on=0}
    on && /Export RVA/ {print $(NF-2)}' <<<"$headers")
  base=$(awk '$1=="ImageBase" {print $2}' <<<"$headers")
  grep -qx "Name.*ORVPACK1.x32" <<<"$(grep -E '^Name[[:space:]]' <<<"$headers")" ||
    win32_fail "export table does not name ORVPACK1.x32" || failed=1
  [ "$(awk '{print $2}' <<<"$names" | sort | tr '\n' ' ')" = \
    "DllCanUnloadNow DllGetClassForm DllGetClassInfo DllGetClassObject DllGetInterface " ] ||
    win32_fail "exports are not exactly the five entry points: $(echo $names)" || failed=1
  while read -r index name; do
    [ -n "$name" ] || continue
    addr=$((0x$base + 0x$(sed -n "$((index + 1))p" <<<"$rvas")))
    # The first return instruction of the export's code tells its convention.
    ret=$($objdump -d --no-show-raw-insn --start-address=$addr --stop-address=$((addr + 512)) \
      "$dll" | awk '$2 == "ret" && !seen {print $3; seen = 1}')
    want=${pops[$name]:-?}
    if [ "$want" = 0 ] && [ -z "$ret" ]; then :
    elif [ "$want" != 0 ] && [ "$ret" = "\$$(printf '0x%x' "$want")" ]; then :
    else win32_fail "$name returns with 'ret $ret', wanted stdcall popping $want bytes" || failed=1
    fi
  done <<<"$names"

  echo "-- imports"
  local dll_name
  while read -r dll_name; do
    echo "   $dll_name"
    case "${dll_name,,}" in
      kernel32.dll | user32.dll | gdi32.dll | msvcrt.dll) ;;
      *) win32_fail "imports from $dll_name, which is not a system DLL" || failed=1 ;;
    esac
  done < <(awk '/DLL Name:/ {print $3}' <<<"$headers")

  echo "-- resources"
  local type lang size
  while IFS=$'\t' read -r type name lang size; do
    echo "   $type $name language $lang, $size bytes"
    case "$type $name" in
      "BITMAP ORV_FADE_XTRA_PICON" | "BITMAP ORV_FADE_XTRA_PICON_BW" | "BITMAP 125" | \
        "BITMAP 510" | "DIALOG 119" | "DIALOG 130" | "VERSION 1") ;;
      *) win32_fail "resource $type $name is none of the module's" || failed=1 ;;
    esac
  done < <($peres list "$dll")
  # Always there: the two icons, checked byte for byte against their files.
  win32_bitmap "$dll" ORV_FADE_XTRA_PICON \
    "width=32 height=33 bits=8 compression=0 palette=256 size=2120" || failed=1
  win32_bitmap "$dll" ORV_FADE_XTRA_PICON_BW \
    "width=32 height=32 bits=1 compression=0 palette=2 size=176" || failed=1
  # The about box's pictures, once they are in: the logo, and the RLE8 badge.
  win32_bitmap "$dll" 510 "width=100 height=67 bits=8 compression=0 palette=256 size=7764" \
    optional || failed=1
  win32_bitmap "$dll" 125 "width=100 height=27 bits=8 compression=1 palette=256 size=*" \
    optional || failed=1
  # The dialogs, once they are in: controls in template order (id class x y w h).
  win32_dialog "$dll" 119 "Options" \
    "1 Button 130 20 50 14" "2 Button 130 51 50 14" "1004 Button 15 35 32 10" \
    "65535 Button 5 5 115 75" "1005 Button 15 49 39 10" "1006 Button 15 65 43 10" \
    "1007 Button 70 35 43 10" "1008 Button 70 49 43 10" "1009 Button 70 65 43 10" \
    "1010 Button 15 20 58 10" || failed=1
  win32_dialog "$dll" 130 "Dialog" \
    "1 Button 160 55 50 14" "65535 Static 105 3 105 8" "65535 Static 105 15 97 20" \
    "109 Static 15 3 67 41" "1005 Static 15 45 67 17" "65535 Static 105 34 90 21" || failed=1
  win32_version "$dll" || failed=1

  echo "-- checksum"
  $peres checksum "$dll" || win32_fail "the PE checksum is not the file's" ||
    failed=1
  [ "$failed" = 0 ] && echo "win32 module checks passed: $dll"
}

# The version resource says the project's version and names the holder of
# LICENSE's copyright line; the about box shows the same major.minor and maker.
win32_version() {
  local dll=$1 version copyright holder count want got about
  echo "-- version"
  count=$(cmake -P cmake/transitions.cmake)  # "six": module/transitions.h's rows
  version=$(sed -n 's/^CMAKE_PROJECT_VERSION:[A-Z]*=//p' "$(dirname "$dll")/../CMakeCache.txt")
  copyright=$(grep -m 1 '^Copyright (c) [0-9]* ' LICENSE)
  holder=${copyright#Copyright (c) * }
  want="fixed FileVersion=$version.0 ProductVersion=$version.0 FileFlags=0x0 FileOS=0x4 FileType=2 FileSubtype=0
string 040904B0 CompanyName=\"$holder\"
string 040904B0 FileDescription=\"Orv Transition Pack 1: $count transitions (plug-in module)\"
string 040904B0 FileVersion=\"$version.0\"
string 040904B0 InternalName=\"ORVPACK1.x32\"
string 040904B0 LegalCopyright=\"$copyright\"
string 040904B0 OriginalFilename=\"ORVPACK1.x32\"
string 040904B0 ProductName=\"Orv Transition Pack 1\"
string 040904B0 ProductVersion=\"$version.0\"
translation 0x0409 1200"
  got=$(/usr/bin/python3 tools/peres.py version "$dll") ||
    { win32_fail "no version resource"; return; }
  sed 's/^/   /' <<<"$got"
  [ "$got" = "$want" ] || { win32_fail "version resource; wanted:"$'\n'"$want"; return; }
  about=$(/usr/bin/python3 tools/peres.py dialog "$dll" 130)
  grep -qF "text=\"Orv Transition Pack 1 v${version%.*}\" x=105 y=3 " <<<"$about" ||
    { win32_fail "the about box's first line does not say v${version%.*}"; return; }
  grep -q "text=\"[^\"]*$holder[^\"]*\" x=105 y=15 " <<<"$about" ||
    { win32_fail "the about box's maker line does not name $holder"; return; }
  echo "   version $version; the about box says v${version%.*} and names $holder"
}

# scripts/release from these sources (into build-win32-again/, so that dist/
# stays the user's), and from a copy of them in build-win32-again/src built
# from nothing: module, page and zip must match byte for byte. Then the zip
# itself, and its preview.html in a browser.
check_win32_release() {
  local again=build-win32-again epoch name copy
  echo "-- release, twice, in two folders"
  epoch=$(git log -1 --format=%ct)
  rm -rf "$again"
  mkdir -p "$again/src"
  # Tracked and new files as they are now, deleted ones left out.
  git ls-files -z --cached --others --exclude-standard |
    python3 -c 'import os, sys
sys.stdout.write("".join(f + "\0" for f in sys.stdin.read().split("\0") if os.path.isfile(f)))' |
    xargs -0 cp --parents -t "$again/src"
  SOURCE_DATE_EPOCH=$epoch scripts/release --out-dir "$again/dist" >/dev/null
  (cd "$again/src" && SOURCE_DATE_EPOCH=$epoch JOBS=$jobs scripts/release >/dev/null)
  cmp build-win32/bin/ORVPACK1.x32 "$again/src/build-win32/bin/ORVPACK1.x32" ||
    { win32_fail "two builds of the same sources differ"; return; }
  cmp build-wasm/site/preview.html "$again/src/build-wasm/site/preview.html" ||
    { win32_fail "two builds of the page (preview.html) from the same sources differ"; return; }
  # With uncommitted changes here, this zip's name says so; git cannot vouch
  # for the copy, which has no .git, so its zip never has a release's name.
  # The bytes are the same.
  name=$(cd "$again/dist" && echo orvpack1-*-win32.zip)
  copy=$(cd "$again/src/dist" && echo orvpack1-*-win32.zip)
  [[ $copy == orvpack1-*-uncommitted-win32.zip ]] ||
    { win32_fail "the copy without .git made $copy, a release's name"; return; }
  cmp "$again/dist/$name" "$again/src/dist/$copy" ||
    { win32_fail "two releases of the same sources differ"; return; }
  echo "   the same module ($(sha256sum build-win32/bin/ORVPACK1.x32 | cut -d' ' -f1))" \
    "and the same $name from $(pwd) and $again/src"
  python3 - "$again/dist/$name" build-win32/bin/ORVPACK1.x32 build-wasm/site/preview.html \
    "$epoch" <<'EOF' || { win32_fail "$again/dist/$name"; return; }
import hashlib, sys, time, zipfile
path, module, preview, epoch = sys.argv[1], sys.argv[2], sys.argv[3], int(sys.argv[4])
names = ["CHANGES", "INSTALL.txt", "LICENSE", "ORVPACK1.x32", "SHA256SUMS", "preview.html"]
z = zipfile.ZipFile(path)
assert z.namelist() == names, "entries %s, wanted %s" % (z.namelist(), names)
assert z.testzip() is None, "an entry's CRC does not match"
when = time.gmtime(epoch - epoch % 2)[:6]
for e in z.infolist():
    assert e.date_time == when, "%s: time %s, wanted %s" % (e.filename, e.date_time, when)
    assert (e.create_system, e.external_attr >> 16) == (3, 0o100644), "%s: mode" % e.filename
data = {n: z.read(n) for n in names}
assert data["ORVPACK1.x32"] == open(module, "rb").read(), "the module is not the build's"
assert data["preview.html"] == open(preview, "rb").read(), "preview.html is not the build's"
for n in ("INSTALL.txt", "LICENSE", "CHANGES"):
    assert data[n] == open(n, "rb").read().replace(b"\n", b"\r\n"), "%s: not the file" % n
sums = b"".join(b"%s  %s\r\n" % (hashlib.sha256(data[n]).hexdigest().encode(), n.encode())
                for n in names if n != "SHA256SUMS")
assert data["SHA256SUMS"] == sums, "SHA256SUMS: %r" % data["SHA256SUMS"]
print("   %s: %s; each at %s UTC, mode 644, CRLF text (preview.html as built); checksums "
      "match" % (
    path, " ".join(names), time.strftime("%Y-%m-%d %H:%M:%S", time.gmtime(epoch - epoch % 2))))
EOF
  echo "-- the zip's preview.html, opened from disk in headless Chromium"
  python3 tests/browser/zip_page_check.py "$again/dist/$name" "$again/zip-page" ||
    win32_fail "the zip's preview.html ($again/zip-page/)"
}

# A bitmap resource's header and size; it must hold the bytes of the file
# resources/ORVPACK1.rc names for it, without their 14-byte file header.
win32_bitmap() {
  local dll=$1 name=$2 want=$3 optional=${4:-} got file rc=0
  got=$(/usr/bin/python3 tools/peres.py bitmap "$dll" "$name" 2>/dev/null) || rc=$?
  # Exit 1 is a missing resource; 2, a file the reader cannot read.
  if [ "$rc" = 1 ] && [ -n "$optional" ]; then
    echo "   bitmap $name: not there yet"
    return 0
  fi
  [ "$rc" = 0 ] || { win32_fail "bitmap $name missing or unreadable (exit $rc)"; return; }
  local pattern="bitmap $name $want"
  # shellcheck disable=SC2053  # a pattern: size=* where the size may vary
  [[ $got == $pattern ]] || { win32_fail "$got; wanted $want"; return; }
  file=resources/$(awk -v n="$name" '$1 == n && $2 == "BITMAP" {gsub(/"/, "", $3); print $3}' \
    resources/ORVPACK1.rc)
  [ -f "$file" ] || { win32_fail "resources/ORVPACK1.rc names no file for bitmap $name"; return; }
  cmp -s <(/usr/bin/python3 tools/peres.py get "$dll" BITMAP "$name") <(tail -c +15 "$file") ||
    { win32_fail "bitmap $name differs from $file"; return; }
  echo "   bitmap $name OK"
}

win32_dialog() {
  local dll=$1 id=$2 caption=$3 out got rc=0
  shift 3
  out=$(/usr/bin/python3 tools/peres.py dialog "$dll" "$id" 2>/dev/null) || rc=$?
  if [ "$rc" = 1 ]; then
    echo "   dialog $id: not there yet"
    return 0
  fi
  [ "$rc" = 0 ] || { win32_fail "dialog $id unreadable (exit $rc)"; return; }
  grep -q "^dialog $id caption=\"$caption\" " <<<"$out" ||
    { win32_fail "dialog $id: $(head -1 <<<"$out")"; return; }
  got=$(sed -n 's/^control id=\([0-9]*\) class=\([^ ]*\) .* x=\(-\?[0-9]*\) y=\(-\?[0-9]*\) w=\([0-9]*\) h=\([0-9]*\) .*/\1 \2 \3 \4 \5 \6/p' <<<"$out")
  [ "$got" = "$(printf '%s\n' "$@")" ] ||
    { win32_fail "dialog $id controls:"$'\n'"$got"$'\n'"wanted:"$'\n'"$(printf '%s\n' "$@")"; return; }
  echo "   dialog $id OK"
}
