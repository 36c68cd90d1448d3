# Shared set-up for scripts/run, scripts/test and scripts/package: installs the
# Debian packages the build needs (as root or through sudo) and builds into
# build/<kind>.
# Usage (sourced):
#   zembrin_install_packages [more packages]
#   zembrin_build <build-dir> <build-type> [extra cmake args]

ZEMBRIN_PACKAGES="build-essential cmake ninja-build pkg-config qt6-base-dev libcurl4-openssl-dev \
libgl-dev ca-certificates fonts-wqy-microhei"
# The package check of the tests renders the PNG icons and validates the
# desktop entry; nginx serves the HTTP/2 tests; dbus-daemon gives the desktop
# notification test a session bus of its own; clang-format checks the style.
ZEMBRIN_TEST_PACKAGES="librsvg2-bin desktop-file-utils nginx-light dbus-daemon clang-format"
# The package manager's output goes here and is shown only when it fails.
ZEMBRIN_SETUP_LOG=build/setup.log

zembrin_install_packages() {
  local missing=()
  for pkg in $ZEMBRIN_PACKAGES "$@"; do
    dpkg-query -W -f='${Status}' "$pkg" 2>/dev/null | grep -q "install ok installed" || missing+=("$pkg")
  done
  [ ${#missing[@]} -eq 0 ] && return 0
  local as_root=()
  if [ "$(id -u)" -ne 0 ]; then
    if command -v sudo >/dev/null; then as_root=(sudo); else
      echo "Missing packages (${missing[*]}) and not root; install them and retry." >&2; return 1
    fi
  fi
  mkdir -p "$(dirname "$ZEMBRIN_SETUP_LOG")"
  echo "Installing ${missing[*]} (log: $ZEMBRIN_SETUP_LOG)"
  if ! { "${as_root[@]}" env DEBIAN_FRONTEND=noninteractive apt-get update &&
         "${as_root[@]}" env DEBIAN_FRONTEND=noninteractive \
           apt-get install -y --no-install-recommends "${missing[@]}"; } >"$ZEMBRIN_SETUP_LOG" 2>&1; then
    echo "Installing the packages failed. The end of $ZEMBRIN_SETUP_LOG:" >&2
    tail -n 40 "$ZEMBRIN_SETUP_LOG" >&2
    return 1
  fi
  echo "Installed."
}

zembrin_build() {
  local dir="$1" type="$2"; shift 2
  cmake -S . -B "$dir" -G Ninja -DCMAKE_BUILD_TYPE="$type" "$@"
  cmake --build "$dir" -j "$(nproc)"
}
