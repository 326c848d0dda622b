#!/usr/bin/env bash
# Installs a vorn_io build tree into a scratch prefix and builds a program
# against the installed package, as a host project would: with CMake
# (find_package(vorn_io 1 CONFIG REQUIRED), vorn_io::vorn_io) and, with
# --pkg-config, also with `pkg-config --cflags --libs vorn_io`. Runs each
# build and checks that every --expect pattern (an extended regular
# expression) matches a line of its standard output.
#
#   package_test.sh --build <build dir> [--source <program.cpp> | --project <dir> --program <name>]
#                   [--pkg-config] [--flags "<compile and link flags>"] [--expect <regex>]...
#                   [-- <program arguments>...]
#
# The program defaults to tests/package/consumer/main.cpp, built by the
# consumer project beside this script; --project builds a CMake project of its
# own instead (find_package(vorn_io) in it) and runs its executable --program.
# --pkg-config compiles the --source file. --flags carries the sanitizer flags
# of a sanitizer build, which the program must share.
set -euo pipefail
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)

build= source=$here/consumer/main.cpp project=$here/consumer program=consumer use_pkg_config=0 flags= expects=() program_args=()
while (($#)); do
  case $1 in
    --build) build=$2; shift 2 ;;
    --source) source=$2; shift 2 ;;
    --project) project=$2; shift 2 ;;
    --program) program=$2; shift 2 ;;
    --pkg-config) use_pkg_config=1; shift ;;
    --flags) flags=$2; shift 2 ;;
    --expect) expects+=("$2"); shift 2 ;;
    --) shift; program_args=("$@"); break ;;
    *) echo "package_test.sh: unknown argument '$1'" >&2; exit 2 ;;
  esac
done
[[ -n $build ]] || { echo "package_test.sh: --build is required" >&2; exit 2; }

fail() {
  echo "FAIL: $*" >&2
  exit 1
}

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
prefix=$work/prefix

echo "== installing $build into $prefix"
cmake --install "$build" --prefix "$prefix" >"$work/install.log" || { cat "$work/install.log"; fail "install failed"; }
library=$(find "$prefix" -name 'libvorn_io.so' -print -quit)
[[ -n $library ]] || fail "the install has no libvorn_io.so"
libdir=$(dirname "$library")
pc_file=$(find "$prefix" -name vorn_io.pc -print -quit)

check_run() {  # check_run <label> <program>
  echo "== running the $1 build"
  LD_LIBRARY_PATH=$libdir${LD_LIBRARY_PATH:+:$LD_LIBRARY_PATH} "$2" "${program_args[@]}" >"$work/out" ||
    { cat "$work/out"; fail "the $1 build exited with $?"; }
  cat "$work/out"
  local pattern
  for pattern in "${expects[@]}"; do
    grep -Eq -- "$pattern" "$work/out" || fail "the $1 build printed no line matching '$pattern'"
  done
}

echo "== CMake: building $project ($program)"
cmake -S "$project" -B "$work/cmake-build" -DCMAKE_BUILD_TYPE=Release \
  -DCMAKE_PREFIX_PATH="$prefix" -DCMAKE_FIND_USE_PACKAGE_REGISTRY=OFF \
  -DCONSUMER_SOURCE="$source" -DCMAKE_CXX_FLAGS="$flags" -DCMAKE_EXE_LINKER_FLAGS="$flags" \
  >"$work/configure.log" 2>&1 || { cat "$work/configure.log"; fail "configure failed"; }
found=$(sed -n 's/^vorn_io_DIR:PATH=//p' "$work/cmake-build/CMakeCache.txt")
[[ $found == "$prefix"/* ]] || fail "find_package found vorn_io at '$found', not in the scratch prefix"
cmake --build "$work/cmake-build" >"$work/build.log" 2>&1 || { cat "$work/build.log"; fail "build failed"; }
check_run CMake "$work/cmake-build/$program"

if ((use_pkg_config)); then
  [[ -n $pc_file ]] || fail "the install has no vorn_io.pc"
  echo "== pkg-config: building $source"
  read -ra pc_flags <<<"$(PKG_CONFIG_PATH=$(dirname "$pc_file") pkg-config --cflags --libs vorn_io)"
  read -ra extra_flags <<<"$flags"
  c++ -std=c++17 "${extra_flags[@]}" "$source" -o "$work/pc-consumer" "${pc_flags[@]}" 2>"$work/pc-build.log" ||
    { cat "$work/pc-build.log"; fail "pkg-config build failed"; }
  check_run pkg-config "$work/pc-consumer"
fi
echo "== package test passed"
