#!/usr/bin/env bash
# Installs a build into a scratch prefix, moves the build folder aside, runs
# the README's examples with the installed vesko-calc, finds its manual page
# as man does, then uninstalls and checks that nothing is left and that the
# count it tells is right.
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
page=$(PATH="$prefix/bin:$PATH" MANPATH= man -w vesko-calc)
if [ "$page" != "$prefix/share/man/man1/vesko-calc.1.gz" ]; then
  echo "FAILED: man vesko-calc finds '$page', not the installed page"
  exit 1
fi
PATH="$prefix/bin:$PATH" MANPAGER=cat MANWIDTH=80 man vesko-calc 2>/dev/null | grep -q -- '--lua'
mv "$aside" "$build"

installed=$(find "$prefix" ! -type d | wc -l)
told=$("$root/tools/uninstall.sh" "$build")
if [[ $told != *"removed $installed of the $installed files"* ]]; then
  echo "FAILED: $installed files were installed; uninstall says: $told"
  exit 1
fi
# The prefix's common folders (bin, lib, share) may stay; no file and
# nothing named for Vesko may.
left=$(find "$prefix" -mindepth 1 \( ! -type d -o -name '*vesko*' \))
if [ -n "$left" ]; then
  echo "FAILED: uninstalling left behind:"
  echo "$left"
  exit 1
fi
echo "install into a prefix and uninstall: passed"
