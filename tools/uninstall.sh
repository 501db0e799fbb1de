#!/usr/bin/env bash
# Removes what `cmake --install` (or `make install`) put under a prefix, as
# listed in the build's install_manifest.txt, then the folders of Vesko's
# own that are left empty.
#   uninstall.sh BUILD_FOLDER
set -euo pipefail

manifest=$1/install_manifest.txt
if [ ! -f "$manifest" ]; then
  echo "uninstall: $manifest not found; nothing was installed from $1" >&2
  exit 1
fi
as_root=()
while IFS= read -r file || [ -n "$file" ]; do
  [ -w "$(dirname "$file")" ] || as_root=(sudo)
done <"$manifest"

folders=()
removed=0
listed=0
# The manifest's last line has no newline: counted here, not by wc -l.
while IFS= read -r file || [ -n "$file" ]; do
  listed=$((listed + 1))
  if [ -e "$file" ] || [ -L "$file" ]; then removed=$((removed + 1)); fi
  "${as_root[@]}" rm -f "$file"
  folder=$(dirname "$file")
  # Only folders named for Vesko, and those inside them.
  while [[ $folder == */vesko || $folder == */vesko/* ]]; do
    folders+=("$folder")
    folder=$(dirname "$folder")
  done
done <"$manifest"
# Deepest first, so a folder is empty once its children are gone.
if [ ${#folders[@]} -gt 0 ]; then
  printf '%s\n' "${folders[@]}" | sort -ur | while IFS= read -r folder; do
    [ -d "$folder" ] && "${as_root[@]}" rmdir --ignore-fail-on-non-empty "$folder"
  done
fi
echo "uninstalled: removed $removed of the $listed files listed in $manifest"
