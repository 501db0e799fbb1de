#!/usr/bin/env bash
# Installs a build into a scratch prefix, moves the build folder aside, runs
# the README's examples with the installed vesko-calc, then uninstalls and
# checks that nothing is left.
#   check-install.sh BUILD_FOLDER
set -euo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
build=$(cd "$1" && pwd)
prefix=$(mktemp -d)
aside=$build.aside-$$
restore() {
  [ -d "$aside" ] && mv "$aside" "$build"
  rm -rf "$prefix"
}
trap restore EXIT

cmake --install "$build" --prefix "$prefix" >/dev/null
mv "$build" "$aside"
"$root/tools/installed-examples.sh" "$prefix/bin/vesko-calc" "$prefix/share/vesko/examples"
mv "$aside" "$build"

"$root/tools/uninstall.sh" "$build" >/dev/null
# The prefix's common folders (bin, lib, share) may stay; no file and
# nothing named for Vesko may.
left=$(find "$prefix" -mindepth 1 \( ! -type d -o -name '*vesko*' \))
if [ -n "$left" ]; then
  echo "FAILED: uninstalling left behind:"
  echo "$left"
  exit 1
fi
echo "install into a prefix and uninstall: passed"
