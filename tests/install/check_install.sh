#!/usr/bin/env bash
# Installs a build into a temporary prefix and builds examples/compose.cpp
# (C++) and examples/c/hanamail_sample.c (C, the flat functions) against the
# installed tree alone: through the CMake package (shared and static library)
# and through pkg-config, then once more after the tree is moved; the Python
# sample runs on the installed library. Every program's email must pass
# judge_email.py.
#   tests/install/check_install.sh BUILD_DIR
set -euo pipefail
[ $# -eq 1 ] || { echo "usage: $0 BUILD_DIR" >&2; exit 2; }
build="$(cd "$1" && pwd)"
root="$(cd "$(dirname "$0")/../.." && pwd)"
here="$root/tests/install"
tmp="$(mktemp -d "${TMPDIR:-/tmp}/hanamail-install.XXXXXX")"
trap 'rm -rf "$tmp"' EXIT

fail() { echo "check_install: FAILED: $*" >&2; exit 1; }
# Runs a command quietly; on failure shows its output and stops.
quiet() {
  local log="$tmp/step.log"
  "$@" >"$log" 2>&1 || { cat "$log" >&2; fail "$*"; }
}
judge() {
  python3 "$here/judge_email.py" "$1" || fail "the email $1 does not pass the judge"
  echo "   $2: email judged sound"
}

# A copy of the example, so that nothing can be found in the source tree.
cp -r "$root/examples" "$tmp/src"
quiet cmake --install "$build" --prefix "$tmp/p"

for f in include/hanamail/Email.h include/hanamail/hanamail.h lib/libhanamail.a lib/libhanamail.so lib/pkgconfig/hanamail.pc \
         lib/cmake/Hanamail/HanamailConfig.cmake lib/cmake/Hanamail/HanamailConfigVersion.cmake; do
  [ -e "$tmp/p/$f" ] || fail "$f is not installed"
done
"$tmp/p/bin/hanamail" --version >/dev/null || fail "the installed tool does not run"
soname="$(objdump -p "$tmp/p/lib/libhanamail.so" | awk '$1 == "SONAME" { print $2 }')"
[ -n "$soname" ] && [ -e "$tmp/p/lib/$soname" ] || fail "libhanamail.so has no soname, or no file by it ($soname)"

# The CMake package: the shared library, then the static one.
quiet cmake -S "$tmp/src" -B "$tmp/cmake-shared" -DCMAKE_PREFIX_PATH="$tmp/p"
quiet cmake --build "$tmp/cmake-shared"
"$tmp/cmake-shared/compose" "$tmp/cmake-shared.eml" || fail "compose (CMake package, shared) failed"
judge "$tmp/cmake-shared.eml" "find_package, Hanamail::hanamail"
"$tmp/cmake-shared/hanamail_sample" "$tmp/cmake-sample.eml" || fail "hanamail_sample (CMake package) failed"
judge "$tmp/cmake-sample.eml" "find_package, C sample"
nm -D --defined-only "$tmp/p/lib/libhanamail.so" >"$tmp/exports.txt"
for name in $(sed -n 's/^HANAMAIL_EXPORT [A-Za-z ]* HANAMAIL_CALL \([A-Za-z]*\)(.*/\1/p' "$tmp/p/include/hanamail/hanamail.h"); do
  grep -qw "$name" "$tmp/exports.txt" || fail "libhanamail.so does not export $name"
done

mkdir "$tmp/static"
cp "$tmp/src/compose.cpp" "$tmp/static/"
cat >"$tmp/static/CMakeLists.txt" <<'CMAKE'
cmake_minimum_required(VERSION 3.20)
project(compose_static LANGUAGES CXX)
set(CMAKE_CXX_STANDARD 20)
find_package(Hanamail REQUIRED COMPONENTS static)
add_executable(compose compose.cpp)
target_link_libraries(compose PRIVATE Hanamail::hanamail_static)
CMAKE
quiet cmake -S "$tmp/static" -B "$tmp/cmake-static" -DCMAKE_PREFIX_PATH="$tmp/p"
quiet cmake --build "$tmp/cmake-static"
if objdump -p "$tmp/cmake-static/compose" | grep -q 'NEEDED.*libhanamail'; then
  fail "Hanamail::hanamail_static links the shared library"
fi
"$tmp/cmake-static/compose" "$tmp/cmake-static.eml" || fail "compose (CMake package, static) failed"
judge "$tmp/cmake-static.eml" "find_package, Hanamail::hanamail_static"

# pkg-config, from where it was installed and from where it was moved to.
pkgconfig_build() {
  local prefix="$1" out="$2"
  quiet env PKG_CONFIG_PATH="$prefix/lib/pkgconfig" sh -c \
    'c++ -std=c++20 "$1" -o "$2" $(pkg-config --cflags --libs hanamail)' sh "$tmp/src/compose.cpp" "$out"
  LD_LIBRARY_PATH="$prefix/lib" "$out" "$out.eml" || fail "compose (pkg-config, $prefix) failed"
  quiet env PKG_CONFIG_PATH="$prefix/lib/pkgconfig" sh -c \
    'cc "$1" -o "$2" $(pkg-config --cflags --libs hanamail)' sh "$tmp/src/c/hanamail_sample.c" "$out-c"
  LD_LIBRARY_PATH="$prefix/lib" "$out-c" "$out-c.eml" || fail "hanamail_sample (pkg-config, $prefix) failed"
}
pkgconfig_build "$tmp/p" "$tmp/pc-p"
judge "$tmp/pc-p.eml" "pkg-config"
judge "$tmp/pc-p-c.eml" "pkg-config, C sample"
python3 "$tmp/src/python/hanamail_sample.py" --library "$tmp/p/lib/libhanamail.so" "$tmp/py.eml" ||
  fail "the Python sample failed"
judge "$tmp/py.eml" "Python sample, --library"

mv "$tmp/p" "$tmp/q"
pkgconfig_build "$tmp/q" "$tmp/pc-q"
judge "$tmp/pc-q.eml" "pkg-config, tree moved"
judge "$tmp/pc-q-c.eml" "pkg-config, C sample, tree moved"
quiet cmake -S "$tmp/src" -B "$tmp/cmake-moved" -DCMAKE_PREFIX_PATH="$tmp/q"
quiet cmake --build "$tmp/cmake-moved"
"$tmp/cmake-moved/compose" "$tmp/cmake-moved.eml" || fail "compose (CMake package, tree moved) failed"
judge "$tmp/cmake-moved.eml" "find_package, tree moved"
echo "check_install: passed"
