#!/usr/bin/env bash
# Checks that the plug-in's folders use each other only along the arrows
# the README's layout section draws, from each file's #include lines:
#
#   roof    plugin/entry.cpp, plugin/registration.*  -> anything below
#   functions/                                       -> library, engine, seam, api
#   library/                                         -> engine, seam, api
#   engine/                                          -> seam, api
#   seam    plugin/host_interface.*, plugin/string_table.*  -> api
#   api/                                             -> nothing
#
# One include runs against them, and is allowed here by name:
# library/sql_parameters.cpp binds ExecuteSQL's parameters with the one
# value conversion, functions/conversion.h.
set -euo pipefail
cd "${1:-$(dirname "$0")/..}"

layer_of() {
  case "$1" in
    plugin/host_interface.* | plugin/string_table.*) echo seam ;;
    plugin/*) echo roof ;;
    functions/*) echo functions ;;
    library/*) echo library ;;
    engine/*) echo engine ;;
    api/*) echo api ;;
    *) echo outside ;;
  esac
}

rank() {
  case "$1" in
    roof) echo 5 ;; functions) echo 4 ;; library) echo 3 ;; engine) echo 2 ;;
    seam) echo 1 ;; api) echo 0 ;; *) echo 9 ;;
  esac
}

wrong=0
while IFS= read -r file; do
  from=$(layer_of "$file")
  while IFS= read -r target; do
    to=$(layer_of "$target")
    [ "$to" = outside ] && continue
    [ "$from" = "$to" ] && continue
    [ "$file:$target" = "library/sql_parameters.cpp:functions/conversion.h" ] && continue
    if [ "$(rank "$to")" -ge "$(rank "$from")" ]; then
      echo "$file includes $target: $from may not use $to" >&2
      wrong=1
    fi
  done < <(sed -n 's/^#include "\([a-z_]*\/[a-z_/.]*\)".*/\1/p' "$file")
done < <(find api plugin engine functions library -name '*.h' -o -name '*.cpp' | sort)

if [ "$wrong" -ne 0 ]; then
  echo "the folders' arrows are drawn in README.md, section Layout" >&2
  exit 1
fi
echo "every include follows the folders' arrows"
