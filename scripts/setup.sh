#!/usr/bin/env bash
# Installs what Dizaruz needs on Debian 12 (only the packages that are
# missing) and builds it into build/. Run as root or with sudo at hand.
set -euo pipefail
cd "$(dirname "$0")/.."

packages=(
  build-essential cmake ninja-build pkg-config
  qt6-base-dev qt6-qpa-plugins libgl-dev          # Qt 6 Widgets and its platform plug-ins
  qt6-tools-dev qt6-l10n-tools qt6-tools-dev-tools # Qt Linguist: the translations of the window
  qt6-svg-dev                                      # the pictures of the link's states
  libjpeg62-turbo-dev                             # the about box picture
  libsimpleini-dev                                # INI files
  libxxhash-dev                                   # the files' hashes between two copies
  libssl-dev                                      # encrypted links between two copies, the user's key
  libgtest-dev libgmock-dev libbenchmark-dev      # tests and benchmarks
  clang libclang-rt-14-dev                        # the fuzz targets (libFuzzer and the sanitizers' run-time)
  xvfb xauth imagemagick xdotool fonts-dejavu-core  # a real window and screenshots
  iproute2 netcat-openbsd libcap2-bin             # network tests, benchmarks, setcap
  tcpdump                                         # a capture on the link between two copies
  dbus-daemon                                     # a private session bus in the desktop tests
  at-spi2-core python3-pyatspi gir1.2-atspi-2.0     # the window as screen readers see it (the AT-SPI walk)
  libavahi-client-dev                             # finding the other computer (DNS-SD through the Avahi daemon)
  avahi-daemon                                    # the discovery tests' own daemons (without its recommended
                                                  # libnss-mdns, which would resolve names the tests keep unresolvable)
  desktop-file-utils appstream                    # validators of the menu entry and the metainfo
  dpkg-dev file                                   # the Debian package (cpack, dpkg-shlibdeps)
)
missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  SUDO=""
  [ "$(id -u)" -ne 0 ] && SUDO="sudo"
  $SUDO apt-get update
  DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y --no-install-recommends "${missing[@]}"
fi

BUILD_DIR=${BUILD_DIR:-build}
cmake -S . -B "$BUILD_DIR" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo ${CMAKE_ARGS:-}
cmake --build "$BUILD_DIR" --parallel "$(nproc)"

# Ports 573 and 574 are privileged on Linux: let the program bind them
# without running as root, where the file system allows it.
exe="$BUILD_DIR/app/dizaruz"
if [ -x "$exe" ] && command -v setcap >/dev/null; then
  SUDO=""
  [ "$(id -u)" -ne 0 ] && SUDO="sudo"
  $SUDO setcap cap_net_bind_service=+ep "$exe" 2>/dev/null || echo "note: could not grant $exe the right to listen on ports 573 and 574" >&2
fi
