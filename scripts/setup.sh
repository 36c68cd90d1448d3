# Shared set-up for scripts/run and scripts/test: installs the Debian packages
# the build needs (as root or through sudo) and builds into build/<kind>.
# Usage (sourced): zembrin_setup <build-dir> <build-type> [extra cmake args]

ZEMBRIN_PACKAGES="build-essential cmake ninja-build pkg-config qt6-base-dev libcurl4-openssl-dev \
libgl-dev ca-certificates fonts-wqy-microhei nginx-light"

zembrin_install_packages() {
  local missing=()
  for pkg in $ZEMBRIN_PACKAGES "$@"; do
    dpkg-query -W -f='${Status}' "$pkg" 2>/dev/null | grep -q "install ok installed" || missing+=("$pkg")
  done
  [ ${#missing[@]} -eq 0 ] && return 0
  echo "Installing: ${missing[*]}"
  local as_root=()
  if [ "$(id -u)" -ne 0 ]; then
    if command -v sudo >/dev/null; then as_root=(sudo); else
      echo "Missing packages (${missing[*]}) and not root; install them and retry." >&2; return 1
    fi
  fi
  "${as_root[@]}" env DEBIAN_FRONTEND=noninteractive apt-get update -qq
  "${as_root[@]}" env DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends "${missing[@]}"
}

zembrin_build() {
  local dir="$1" type="$2"; shift 2
  cmake -S . -B "$dir" -G Ninja -DCMAKE_BUILD_TYPE="$type" "$@"
  cmake --build "$dir" -j "$(nproc)"
}
