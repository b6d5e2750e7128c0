# Builds pentrel-cli and melor-sim for Linux (a release build without the tests, in build/package)
# and makes the Debian package of them with CPack. Sourced by scripts/package and the package test.

# build_debian_package: prints the path of build/package/cpack/pentrel_VERSION_amd64.deb.
build_debian_package() {
  local version
  version=$(sed -n 's/^project(pentrel VERSION \([0-9.]*\).*/\1/p' CMakeLists.txt)
  # Called as $(build_debian_package), where set -e does not reach: a failed build must say so.
  cmake -S . -B build/package -DCMAKE_BUILD_TYPE=Release -DPENTREL_TESTS=OFF >/dev/null || return 1
  cmake --build build/package -j 2 --target pentrel-cli melor-sim pentrel-cli-man >/dev/null ||
    return 1
  if ! (cd build/package && cpack -G DEB -B "$PWD/cpack" > cpack.log 2>&1); then
    cat build/package/cpack.log >&2
    return 1
  fi
  echo "build/package/cpack/pentrel_${version}_amd64.deb"
}
