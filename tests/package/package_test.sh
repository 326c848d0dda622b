#!/usr/bin/env bash
# Installs a vorn_io build tree into a scratch prefix (not a system one) and
# builds a program against the installed package, as a host project would:
# with CMake (find_package(vorn_io 1 CONFIG REQUIRED), vorn_io::vorn_io) and,
# with --pkg-config, also with `pkg-config --cflags --libs vorn_io`. Runs each
# build on the simulation through the installed `vorn-io sim --`, with a clean
# environment and no LD_LIBRARY_PATH, and checks that every --expect pattern
# (an extended regular expression) matches a line of its standard output.
#
#   package_test.sh --build <build dir> [--source <program.cpp> | --project <dir> --program <name>]
#                   [--pkg-config] [--flags "<compile and link flags>"] [--expect <regex>]...
#                   [--tool-matrix <recording driver dir>] [-- <program arguments>...]
#
# Every host built, the installed library and the installed tool may use of
# the motor side only what the motor-driver headers declare; no host gets a
# NEEDED entry on libvorn_motor or a RUNPATH into the simulation's folder.
# --tool-matrix also runs the installed vorn-io without a driver, on the
# simulation, and on a driver the loader finds (the recording test double in
# the given folder, through LD_LIBRARY_PATH).
#
# The program defaults to tests/package/consumer/main.cpp, built by the
# consumer project beside this script; --project builds a CMake project of its
# own instead (find_package(vorn_io) in it) and runs its executable --program.
# --pkg-config compiles the --source file. --flags carries the sanitizer flags
# of a sanitizer build, which the program must share.
set -euo pipefail
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)

build= source=$here/consumer/main.cpp project=$here/consumer program=consumer use_pkg_config=0 flags= expects=()
program_args=() double_dir=
while (($#)); do
  case $1 in
    --build) build=$2; shift 2 ;;
    --source) source=$2; shift 2 ;;
    --project) project=$2; shift 2 ;;
    --program) program=$2; shift 2 ;;
    --pkg-config) use_pkg_config=1; shift ;;
    --flags) flags=$2; shift 2 ;;
    --expect) expects+=("$2"); shift 2 ;;
    --tool-matrix) double_dir=$2; shift 2 ;;
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
library=$(find "$prefix" -name 'libvorn_io.so.1' -print -quit)
[[ -n $library ]] || fail "the install has no libvorn_io.so.1"
libdir=$(dirname "$library")
simulation=$libdir/vorn_io/sim/libvorn_motor.so.1
[[ -f $simulation ]] || fail "the install has no $simulation"
[[ -z $(find "$libdir" -maxdepth 1 -name 'libvorn_motor.so*') ]] || fail "a libvorn_motor beside libvorn_io in $libdir"
vorn_io=$prefix/bin/vorn-io
pc_file=$(find "$prefix" -name vorn_io.pc -print -quit)

# Only what a person's shell would carry over: the logger's and the
# simulation's settings, and the sanitizers' options.
clean_env=(env -i "PATH=/usr/local/bin:/usr/bin:/bin" "HOME=$work")
while IFS= read -r -d '' entry; do
  case $entry in SPDLOG_* | VORN_MOTOR_SIM_* | ASAN_OPTIONS=* | UBSAN_OPTIONS=* | TSAN_OPTIONS=* | LSAN_OPTIONS=*)
    clean_env+=("$entry") ;;
  esac
done < <(env -0)
if [[ $flags == *-fsanitize=address* ]]; then
  # A preloaded library comes before the ASan runtime in the load order.
  clean_env+=("ASAN_OPTIONS=${ASAN_OPTIONS:+$ASAN_OPTIONS:}verify_asan_link_order=0")
fi

# The motor side of a binary: of the symbols it takes from outside, those the
# simulation defines must all be declared by the motor-driver headers.
check_motor_side() {  # check_motor_side <binary>
  local stray
  stray=$(comm -12 <(nm -D --undefined-only "$1" | awk '{ print $NF }' | sort -u) \
    <(nm -D --defined-only "$simulation" | awk '{ print $NF }' | sort -u) | c++filt |
    grep -Ev '^(((vtable|typeinfo|typeinfo name) for )?(MotorInterface|damiaoMotor|feetechMotor)(::|$))' || true)
  [[ -z $stray ]] || fail "$1 uses what only the simulation defines: $stray"
}

check_host() {  # check_host <label> <binary>
  local dynamic
  dynamic=$(readelf -d "$2")
  ! grep -q 'NEEDED.*\[libvorn_motor' <<<"$dynamic" || fail "the $1 build has a NEEDED entry on libvorn_motor"
  ! grep -E '(RUNPATH|RPATH)' <<<"$dynamic" | grep -q '/vorn_io/sim' ||
    fail "the $1 build has a RUNPATH into the simulation's folder: $(grep -E 'RUNPATH|RPATH' <<<"$dynamic")"
  check_motor_side "$2"
}

check_run() {  # check_run <label> <program>
  echo "== running the $1 build on the simulation: vorn-io sim -- $2"
  check_host "$1" "$2"
  local rc=0
  "${clean_env[@]}" "$vorn_io" sim -- "$2" "${program_args[@]}" >"$work/out" || rc=$?
  ((rc == 0)) || { cat "$work/out"; fail "the $1 build exited with $rc"; }
  cat "$work/out"
  local pattern
  for pattern in "${expects[@]}"; do
    grep -Eq -- "$pattern" "$work/out" || fail "the $1 build printed no line matching '$pattern'"
  done
}

expect_tool() {  # expect_tool <exit code> <regex> <vorn-io arguments ...>: under "${run_env[@]}"
  local code=$1 pattern=$2 rc=0
  shift 2
  "${run_env[@]}" "$vorn_io" "$@" >"$work/tool.out" 2>&1 || rc=$?
  ((rc == code)) || { cat "$work/tool.out"; fail "vorn-io $* exited with $rc, not $code"; }
  grep -Eq -- "$pattern" "$work/tool.out" || { cat "$work/tool.out"; fail "vorn-io $* printed nothing matching '$pattern'"; }
}

if [[ -n $double_dir ]]; then
  echo "== the installed vorn-io, from $prefix"
  tool=$(find "$prefix" -path '*/vorn_io/vorn-io' -type f -print -quit)
  for binary in "$library" "$tool" "$vorn_io"; do check_motor_side "$binary"; done
  ! readelf -d "$vorn_io" | grep -q 'NEEDED.*\[libvorn_' || fail "the launcher itself needs a vorn_io library"
  ! readelf -d "$library" "$tool" | grep -E 'RUNPATH|RPATH' | grep -q '/vorn_io/sim' || fail "an installed RUNPATH into the simulation"

  run_env=("${clean_env[@]}")
  # No driver on this machine: one line, naming the library and both ways out.
  expect_tool 2 '^vorn-io: .*libvorn_motor\.so\.1.*vendor.*--sim' version
  (($(wc -l <"$work/tool.out") == 1)) || { cat "$work/tool.out"; fail "more than one line for a missing driver"; }
  expect_tool 0 'Usage: vorn-io' --help
  expect_tool 0 '^vorn_io version: 1\.' --version
  # Commands that drive no motor need no driver.
  expect_tool 0 '^Lifter keys' -q keys
  expect_tool 0 'short_lifter\.yaml: clean$' check "$here/short_lifter.yaml"
  expect_tool 0 "^motor-driver library: $libdir/vorn_io/sim/libvorn_motor\.so\.1 \(the simulation" --sim version
  expect_tool 0 'lifter in state 1' --sim lifter "$here/short_lifter.yaml" --to 1
  (($(grep -c 'libvorn_motor\.so\.1: these motors are simulated' "$work/tool.out") == 1)) ||
    fail "the simulation did not say once that its motors are simulated"
  run_env=("${clean_env[@]}" VORN_MOTOR_SIM_QUIET=1)
  expect_tool 0 'lifter in state 1' --sim lifter "$here/short_lifter.yaml" --to 1
  ! grep -q 'simulated' "$work/tool.out" || fail "VORN_MOTOR_SIM_QUIET=1 did not quiet the simulation"
  # The Python module, where the build has one: imported from the prefix's
  # package folder, it finds libvorn_io through its own RUNPATH.
  python_package=$(find "$prefix" -path '*/dist-packages/vorn_io/__init__.py' -print -quit)
  if [[ -n $python_package ]]; then
    python_module=$(find "$(dirname "$python_package")" -name '_vorn_io*.so' -print -quit)
    check_motor_side "$python_module"
    ! readelf -d "$python_module" | grep -E 'RUNPATH|RPATH' | grep -q '/vorn_io/sim' ||
      fail "the Python module has a RUNPATH into the simulation"
    run_env=("${clean_env[@]}" VORN_MOTOR_SIM_QUIET=1 PYTHONDONTWRITEBYTECODE=1
      "PYTHONPATH=$(dirname "$(dirname "$python_package")")")
    expect_tool 0 '^vorn_io version: 1\.' sim -- /usr/bin/python3 -c 'import vorn_io; print(vorn_io.version())'
  fi
  # A driver the loader finds, named like the vendor's: it is not the
  # simulation, and --sim still runs on the simulation.
  run_env=("${clean_env[@]}" "LD_LIBRARY_PATH=$double_dir")
  expect_tool 0 "^motor-driver library: $double_dir/libvorn_motor\.so\.1 \(not the simulation" version
  expect_tool 0 "^motor-driver library: $libdir/vorn_io/sim/libvorn_motor\.so\.1 \(the simulation" --sim version
  # The loader would ignore the preload for a set-user-ID program.
  cp /bin/true "$work/setuid-true" && chmod u+s "$work/setuid-true"
  expect_tool 2 'set-user-ID.*refused' sim -- "$work/setuid-true"
  # A stand-in left where the loader looks, as earlier installs put it.
  cp "$simulation" "$libdir/libvorn_motor.so.1"
  cmake --install "$build" --prefix "$prefix" --component runtime >"$work/reinstall.log" 2>&1
  tr -s ' \n' '  ' <"$work/reinstall.log" | grep -qF "$libdir/libvorn_motor.so.1 is the simulated libvorn_motor.so.1" ||
    { cat "$work/reinstall.log"; fail "the install did not warn about the stand-in in $libdir"; }
  rm "$libdir/libvorn_motor.so.1"
fi

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
