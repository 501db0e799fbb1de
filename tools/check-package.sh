#!/usr/bin/env bash
# Builds the Debian package, installs it with apt-get, moves the build folder
# aside and runs the README's examples with the installed vesko-calc from
# another folder; then removes the package and checks that none of its
# files is left.  The package is removed on every way out, so later steps
# never run with it installed.  Needs root (or sudo).
#   check-package.sh BUILD_FOLDER
set -euo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
build=$(cd "$1" && pwd)
as_root=()
[ "$(id -u)" -eq 0 ] || as_root=(sudo)
export DEBIAN_FRONTEND=noninteractive

if dpkg-query -W -f='${Status}' vesko 2>/dev/null | grep -q "install ok installed"; then
  echo "check-package: a vesko package is installed already; remove it first" >&2
  exit 1
fi

rm -f "$build"/vesko_*.deb
(cd "$build" && cpack -G DEB >/dev/null)
package=$(ls "$build"/vesko_*.deb)

# lintian, as Debian checks a package: errors fail, warnings are shown.
if command -v lintian >/dev/null; then
  report=$(lintian --allow-root "$package" 2>&1 || true)
  [ -n "$report" ] && echo "$report"
  if grep -q '^E: ' <<<"$report"; then
    echo "FAILED: lintian reports errors"
    exit 1
  fi
else
  echo "FAILED: lintian is not installed (tools/install-dependencies.sh installs it)"
  exit 1
fi

depends=$(dpkg-deb -f "$package" Depends)
for needed in liblua5.1-0 lua-socket lua-lpeg lua-filesystem lua-bitop libsqlite3-0; do
  if [[ ", $depends," != *", $needed "* && ", $depends," != *", $needed,"* ]]; then
    echo "FAILED: Depends lacks $needed: $depends"
    exit 1
  fi
done

aside=$build.aside-$$
listing=$(mktemp)
cleanup() {
  [ -d "$aside" ] && mv "$aside" "$build"
  "${as_root[@]}" apt-get remove -y -q --purge vesko >/dev/null 2>&1 || true
  rm -f "$listing"
}
trap cleanup EXIT

"${as_root[@]}" apt-get install -y -q --no-install-recommends "$package" >/dev/null
dpkg -L vesko >"$listing"
mv "$build" "$aside"
"$root/tools/installed-examples.sh" vesko-calc /usr/share/vesko/examples
mv "$aside" "$build"
if ! MANPAGER=cat MANWIDTH=80 man vesko-calc 2>/dev/null | grep -q -- '--lua'; then
  echo "FAILED: man vesko-calc shows no manual page"
  exit 1
fi

"${as_root[@]}" apt-get remove -y -q --purge vesko >/dev/null
left=()
while IFS= read -r path; do
  # The system's own folders (/usr, /usr/bin, ...) stay; Vesko's must go.
  if [ -e "$path" ] && { [ ! -d "$path" ] || [[ $path == */vesko* ]]; }; then left+=("$path"); fi
done <"$listing"
if [ ${#left[@]} -gt 0 ]; then
  echo "FAILED: removing the package left behind: ${left[*]}"
  exit 1
fi
echo "package $(basename "$package"): installs, runs from another folder, removes cleanly"
