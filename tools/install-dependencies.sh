#!/usr/bin/env bash
# Installs the Debian packages Vesko builds and tests with, when any is
# missing.  Needs root (or sudo) only when something must be installed.
set -euo pipefail

packages=(
  build-essential cmake pkg-config binutils
  clang libclang-rt-dev
  liblua5.1-0-dev lua-socket lua-socket-dev lua-lpeg lua-lpeg-dev
  lua-filesystem-dev lua-bitop-dev lua-cjson
  libsqlite3-dev libgtest-dev googletest libbenchmark-dev
  valgrind
  lua5.1
  file      # cpack's Debian generator
  locales   # the locale data localedef compiles a decimal-comma locale from
  llvm      # llvm-symbolizer: sanitizer and fuzzer reports with symbols
  lintian   # checks the package
  man-db    # man, for the installed manual page
)

missing=()
for package in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q "install ok installed"; then
    missing+=("$package")
  fi
done
[ ${#missing[@]} -eq 0 ] && exit 0

echo "Installing: ${missing[*]}"
as_root=()
[ "$(id -u)" -eq 0 ] || as_root=(sudo)
export DEBIAN_FRONTEND=noninteractive
"${as_root[@]}" apt-get update -q
"${as_root[@]}" apt-get install -y -q --no-install-recommends "${missing[@]}"
