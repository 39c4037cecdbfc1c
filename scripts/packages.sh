# Sourced by the scripts: need_packages PACKAGE... installs the Debian packages
# that are missing when run as root, and otherwise names them and exits 1.

# FFmpeg's libraries for orvplay's video, found with pkg-config. The one list:
# tools/orvplay/CMakeLists.txt reads it from this line for its messages.
video_packages=(libavformat-dev libavcodec-dev libswscale-dev libavutil-dev pkg-config)

# How long an install waits for another one (apt, unattended upgrades) to let
# go of the package manager's lock, in seconds.
apt_lock_wait=${ORV_APT_LOCK_WAIT:-600}

# apt-get "$@", quiet unless it fails. apt waits for dpkg's lock itself
# (DPkg::Lock::Timeout); the package lists' lock it does not wait for, so a
# refused lock is tried again until apt_lock_wait seconds have passed.
apt_get() {
  local deadline=$((SECONDS + apt_lock_wait)) left out
  while :; do
    left=$((deadline - SECONDS))
    [ "$left" -gt 0 ] || left=0
    if out=$(DEBIAN_FRONTEND=noninteractive apt-get -qq -o DPkg::Lock::Timeout="$left" "$@" \
      2>&1 >/dev/null); then
      return 0
    fi
    if ! grep -q "Could not get lock" <<<"$out"; then
      printf '%s\n' "$out" >&2
      return 1
    fi
    if [ "$SECONDS" -ge "$deadline" ]; then
      echo "apt-get $*: another program still holds the package manager's lock after" \
        "${apt_lock_wait} s ($(grep -m1 -o "held by process.*" <<<"$out" || echo "$out"));" \
        "run this again once it has finished (ORV_APT_LOCK_WAIT sets the wait)" >&2
      return 1
    fi
    sleep 2
  done
}

# apt-get update, where only the i386 lists failing to download is no
# failure: they concern the 32-bit packages alone, which need_i386_packages
# checks against the amd64 ones, and must not stop any other install.
apt_update() {
  local out
  out=$(apt_get update 2>&1) && return 0
  if ! grep -q '^E: Failed to fetch' <<<"$out" ||
    grep '^E: Failed to fetch' <<<"$out" | grep -qv 'binary-i386'; then
    printf '%s\n' "$out" >&2
    return 1
  fi
  echo "-- apt-get update: the i386 lists of $(grep '^E: Failed to fetch' <<<"$out" |
    sed -E 's|.*/dists/([^/]+)/.*|\1|' | sort -u | paste -sd, -) did not download; going on" \
    "with the lists apt has"
}

missing_packages() {
  local p
  for p in "$@"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || echo "$p"
  done
}

need_packages() {
  local missing
  mapfile -t missing < <(missing_packages "$@")
  [ ${#missing[@]} -eq 0 ] && return 0
  if [ "$(id -u)" = 0 ]; then
    echo "== installing ${missing[*]}"
    apt_update && apt_get install -y "${missing[@]}" || exit 1
  else
    echo "missing packages; run: sudo apt-get install -y ${missing[*]}" >&2
    exit 1
  fi
}

# need_i386_packages PACKAGE:i386...: like need_packages, with the i386
# architecture added, but never removes a package (a 32-bit library must be
# the same version as its 64-bit twin, and apt would rather remove the twin's
# users than refuse) and never exits: it returns 1 with the reason in
# i386_why, so that the leg can say why it cannot run.
need_i386_packages() {
  local missing out
  i386_why=""
  mapfile -t missing < <(missing_packages "$@")
  [ ${#missing[@]} -eq 0 ] && return 0
  if [ "$(id -u)" != 0 ]; then
    i386_why="missing packages; run: sudo dpkg --add-architecture i386 && sudo apt-get install -y --no-remove ${missing[*]}"
    return 1
  fi
  echo "== installing ${missing[*]}"
  local added=0
  if ! dpkg --print-foreign-architectures | grep -qx i386; then
    dpkg --add-architecture i386
    added=1
  fi
  if ! out=$(apt_update 2>&1); then
    i386_why="apt-get update failed: $(grep -m1 '^E:' <<<"$out" || echo "$out")"
  else
    [ -z "$out" ] || echo "$out"
    if ! out=$(apt_get install -y --no-remove "${missing[@]}" 2>&1); then
      local held
      held=$(grep -oE '^ [^ ]+:i386 :' <<<"$out" | head -n 3 | tr -d ' :' | paste -sd, -)
      i386_why="apt cannot install them at the versions of this machine's amd64 packages without"
      i386_why+=" removing packages${held:+ ($held, ...)}: $(grep -m1 '^E:' <<<"$out" || echo "$out")"
    fi
  fi
  [ -z "$i386_why" ] && return 0
  # An architecture added for nothing goes again, so that other programs'
  # updates do not meet its lists.
  if [ "$added" = 1 ] && ! dpkg-query -W -f='${Architecture}\n' 2>/dev/null | grep -qx i386; then
    dpkg --remove-architecture i386
  fi
  return 1
}
