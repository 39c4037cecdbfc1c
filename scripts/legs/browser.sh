# orvplay's gallery in Debian's Chromium, headless: every video loads with the
# expected duration and size, every image decodes, no console errors. The page
# and a screenshot of it stay in build/browser/.
leg_browser() {
  need_packages cmake ninja-build g++ libgtest-dev libgmock-dev libbenchmark-dev libpng-dev \
    libgif-dev "${video_packages[@]}" chromium python3
  configure_and_build build "${native_cmake_args[@]}"
  rm -rf build/browser
  mkdir -p build/browser
  build/bin/orvplay --all --duration 1000 --fps 25 --out-dir build/browser/gallery
  # One video per transition the module registers (--list: a heading, then one line each).
  local listed videos
  listed=$(build/bin/orvplay --list)
  videos=$(($(wc -l <<<"$listed") - 1))
  python3 tests/browser/gallery_check.py build/browser/gallery/index.html \
    build/browser/gallery.png --width 640 --height 360 --duration 1000 --fps 25 --videos "$videos"
}
