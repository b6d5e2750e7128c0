# Installs, with apt-get, whatever Debian 12 packages the build and the tests need and the machine
# lacks. Sourced by scripts/test, scripts/demo and scripts/package.
PENTREL_PACKAGES=(
  cmake make g++ libgtest-dev libbenchmark-dev clang libclang-rt-14-dev
  g++-mingw-w64-x86-64 binutils-mingw-w64-x86-64 wine wine64 xvfb xauth xdotool imagemagick
  socat srecord binutils zip valgrind python3 help2man dpkg-dev libcli11-dev nlohmann-json3-dev
  tmux qemu-system-x86 linux-image-amd64 busybox-static cpio libssl-dev
)

# install_prerequisites [PACKAGE...]: the named packages, or all of the above.
install_prerequisites() {
  local wanted=("$@")
  [ ${#wanted[@]} -eq 0 ] && wanted=("${PENTREL_PACKAGES[@]}")
  local missing=()
  for package in "${wanted[@]}"; do
    dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q "install ok installed" ||
      missing+=("$package")
  done
  [ ${#missing[@]} -eq 0 ] && return 0
  echo "Installing: ${missing[*]}"
  local sudo=""
  if [ "$(id -u)" -ne 0 ]; then
    if ! command -v sudo >/dev/null; then
      echo "Missing packages: ${missing[*]}; as root, run: apt-get install ${missing[*]}" >&2
      return 1
    fi
    sudo="sudo"
  fi
  $sudo apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq \
    "${missing[@]}" >/dev/null
}
