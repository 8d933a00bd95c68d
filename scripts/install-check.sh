#!/usr/bin/env bash
# Installs a build into a temporary prefix (inside the build folder, removed afterwards) and runs
# the installed programs from there, with nothing of the build tree on their way: --version of
# each, initdb and a check of the installed sample, the host opening the screen from its installed
# package (offscreen), the man pages, and the bash completion.
#   bash scripts/install-check.sh [BUILD_DIR]     (default: build)
set -euo pipefail
build=$(cd "${1:-build}" && pwd)
prefix=$(mktemp -d "$build/install-check.XXXXXX")
trap 'rm -rf "$prefix"' EXIT
cmake --install "$build" --prefix "$prefix" > "$prefix/install.log"
bin=$prefix/bin
doc=$prefix/share/doc/imp40500
version=$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' "$build/CMakeCache.txt")
fail() { echo "install-check: $*" >&2; exit 1; }
# The installed programs alone: no IMP_ settings, no library path, PATH to the prefix first.
run() { env -u LD_LIBRARY_PATH -u IMP_DB -u IMP_SERVER -u IMP_TOKEN PATH="$bin:/usr/bin:/bin" "$@"; }

for program in imp40500 imp40500-server imp40500-host; do
  got=$(run "$program" --version 2>/dev/null)
  [ "$got" = "$program $version" ] || fail "$program --version said '$got', not '$program $version'"
  libs=$(ldd "$bin/$program")
  for lib in framework database appclient; do
    grep -q "libimp_$lib.so => $prefix/" <<<"$libs" || fail "$program does not find libimp_$lib.so in $prefix"
  done
done

work=$prefix/work
mkdir "$work"
cd "$work"
run imp40500 initdb --db sqlite:demo.db --demo > /dev/null
run imp40500 check "$doc/samples/pratos-exemplo.txt" --branch 0001 --db sqlite:demo.db > check.txt \
  || fail "check of the installed sample failed: $(tail -5 check.txt)"
grep -q "Linhas carregadas" check.txt || fail "check printed no report"

# The screen opens only when the host has loaded its package; a failure leaves a message box (3).
QT_QPA_PLATFORM=offscreen run imp40500-host --db sqlite:demo.db --operator ADMIN --branch 0001 --no-sign-in \
  --open --grab screen.png 2> host.err || fail "the installed host did not open the screen: $(cat host.err)"
[ -s screen.png ] || fail "the installed host left no picture"

for page in imp40500 imp40500-server imp40500-host; do
  grep -q "^\.TH \"\?${page^^}" "$prefix/share/man/man1/$page.1" || fail "no man page $page(1)"
done
grep -q -- '--branch' "$prefix/share/man/man1/imp40500.1" || fail "imp40500(1) lacks the options of check"

completion=$prefix/share/bash-completion/completions
complete_line() {
  run bash -c 'source "$1"; shift; COMP_WORDS=("$@"); COMP_CWORD=$(($# - 1)); _imp40500; echo "${COMPREPLY[*]}"' \
    _ "$completion/$1" "$@"
}
[ "$(complete_line imp40500 ch)" = check ] || fail "completion of imp40500's commands"
[ "$(complete_line imp40500 check --bra)" = --branch ] || fail "completion of check's options"
[ "$(complete_line imp40500-server --token-)" = --token-file ] || fail "completion of the server's options"

echo "install-check: installed into a temporary prefix; --version, check, the host's package, man pages and completion work from there"
