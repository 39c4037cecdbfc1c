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

need_packages() {
  local missing=() p
  for p in "$@"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
  done
  [ ${#missing[@]} -eq 0 ] && return 0
  if [ "$(id -u)" = 0 ]; then
    echo "== installing ${missing[*]}"
    apt_get update && apt_get install -y "${missing[@]}" || exit 1
  else
    echo "missing packages; run: sudo apt-get install -y ${missing[*]}" >&2
    exit 1
  fi
}
