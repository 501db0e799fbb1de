#!/usr/bin/env bash
# Runs the README's examples with an installed vesko-calc, from a scratch
# folder, and checks their answers.  The build folder must be out of reach
# (check-install.sh and check-package.sh move it aside), so that nothing
# the binaries find comes from it.
#   installed-examples.sh VESKO_CALC EXAMPLES_FOLDER
set -euo pipefail

calc=$1
examples=$2
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
cd "$scratch"

failures=0
expect() {  # expect WANTED ARGUMENT...
  local wanted=$1 got
  shift
  got=$("$calc" "$@" 2>&1) || true
  if [ "$got" != "$wanted" ]; then
    echo "FAILED: vesko-calc $*"
    echo "  wanted: $wanted"
    echo "  got:    $got"
    failures=$((failures + 1))
  fi
}

expect $'2\n0' 'Vesko_RunScript("return 1+1")' 'Vesko_LastError'
expect "Bruno Müller" 'Vesko_RunScript("return vesko.ExecuteSQL(\"SELECT name FROM customers\")[2].f1")'
expect "O'Brien Fiona" "Vesko_RunFile(\"$examples/cleanup.lua\"; \" o'brien ,  FIONA!! \")"
expect '{"total":3}' 'Vesko_RunScript("return require(\"cjson\").encode({total = 1 + 2})")'
report=$("$calc" "Vesko_RunFile(\"$examples/report.lua\")" 2>&1) || true
case $report in
  *"Total: "*) ;;
  *) echo "FAILED: report.lua gave: $report"; failures=$((failures + 1)) ;;
esac
pages=$("$calc" "Vesko_RunFile(\"$examples/generator.lua\")" 'Vesko_CallFunction("orderPages"; 3)' \
  'Vesko_ResumeFunction' 'Vesko_ResumeFunction' 2>&1) || true
case $pages in
  *"#8 "*) ;;
  *) echo "FAILED: generator.lua gave: $pages"; failures=$((failures + 1)) ;;
esac
"$calc" --help >/dev/null || { echo "FAILED: vesko-calc --help"; failures=$((failures + 1)); }

[ "$failures" -eq 0 ] && echo "installed vesko-calc: every example passed" && exit 0
exit 1
