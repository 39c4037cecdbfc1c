# Sourced by the scripts: need_packages PACKAGE... installs the Debian packages
# that are missing when run as root, and otherwise names them and exits 1.

# FFmpeg's libraries for orvplay's video, found with pkg-config. The one list:
# tools/orvplay/CMakeLists.txt reads it from this line for its messages.
video_packages=(libavformat-dev libavcodec-dev libswscale-dev libavutil-dev pkg-config)

need_packages() {
  local missing=() p
  for p in "$@"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
  done
  [ ${#missing[@]} -eq 0 ] && return 0
  if [ "$(id -u)" = 0 ]; then
    echo "== installing ${missing[*]}"
    apt-get update -qq && DEBIAN_FRONTEND=noninteractive apt-get install -y -qq "${missing[@]}" >/dev/null
  else
    echo "missing packages; run: sudo apt-get install -y ${missing[*]}" >&2
    exit 1
  fi
}
