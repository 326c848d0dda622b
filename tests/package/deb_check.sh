#!/usr/bin/env bash
# Checks the Debian packages of scripts/package: what each one holds, lintian
# without errors, and a run of the tool unpacked into a scratch folder (dpkg -x;
# nothing is installed on this machine): without a motor driver, and on the
# simulation; then the Python module imported and a lifter moved from the
# unpacked packages, on the simulation.
#
#   deb_check.sh <folder with the .deb files>
set -euo pipefail
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
packages=$1

fail() {
  echo "FAIL: $*" >&2
  exit 1
}

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

multiarch=$(dpkg-architecture -qDEB_HOST_MULTIARCH)
libdir=usr/lib/$multiarch
python_dir=usr/lib/python3/dist-packages
# package: files it must hold (paths as dpkg-deb -c prints them, without ./)
declare -A holds=(
  [libvorn-io1]="$libdir/libvorn_io.so.1 usr/share/doc/libvorn-io1/copyright usr/share/doc/libvorn-io1/changelog.Debian.gz"
  [libvorn-io-dev]="$libdir/libvorn_io.so usr/include/vorn_io/vorn_io.h usr/include/vorn_motor/motor_interface.h
    $libdir/cmake/vorn_io/vorn_ioConfig.cmake $libdir/pkgconfig/vorn_io.pc usr/share/doc/libvorn-io-dev/copyright"
  [vorn-io-tools]="usr/bin/vorn-io usr/libexec/vorn_io/vorn-io usr/share/man/man1/vorn-io.1.gz
    usr/share/doc/vorn-io-tools/copyright"
  [libvorn-motor-sim]="$libdir/vorn_io/sim/libvorn_motor.so.1 $libdir/cmake/vorn_io/vorn_ioSimulationTargets.cmake
    usr/share/doc/libvorn-motor-sim/copyright"
  [python3-vorn-io]="$python_dir/vorn_io/__init__.py $python_dir/vorn_io/__main__.py $python_dir/vorn_io/_plot.py
    $python_dir/vorn_io/_vorn_io.$(/usr/bin/python3 -c 'import sysconfig; print(sysconfig.get_config_var("SOABI"))').so
    usr/share/doc/python3-vorn-io/copyright"
)
for package in "${!holds[@]}"; do
  deb=$(find "$packages" -name "${package}_*.deb" -print -quit)
  [[ -n $deb ]] || fail "no package $package in $packages"
  dpkg-deb -c "$deb" | awk '{ print $6 }' | sed 's|^\./||' >"$work/$package.list"
  for file in ${holds[$package]}; do
    grep -qxF "$file" "$work/$package.list" || fail "$package does not hold $file"
  done
  # Only the simulation's own folder may hold a libvorn_motor.
  ! grep -v "^$libdir/vorn_io/sim/" "$work/$package.list" | grep -q 'libvorn_motor' ||
    fail "$package holds a libvorn_motor outside $libdir/vorn_io/sim"
  dpkg-deb -x "$deb" "$work/root"
done
deb_of() { find "$packages" -name "${1}_*.deb" -print -quit; }
! dpkg-deb -f "$(deb_of libvorn-io1)" Depends | grep -q 'libvorn-motor-sim' || fail "libvorn-io1 depends on the simulation"
dpkg-deb --ctrl-tarfile "$(deb_of libvorn-io1)" | tar -xO ./triggers | grep -qx 'activate-noawait ldconfig' ||
  fail "libvorn-io1 has no ldconfig trigger"
dpkg-deb --ctrl-tarfile "$(deb_of libvorn-io1)" | tar -xO ./shlibs | grep -q '^libvorn_io 1 libvorn-io1' ||
  fail "libvorn-io1 has no shlibs entry"
! dpkg-deb --ctrl-tarfile "$(deb_of libvorn-motor-sim)" | tar -t | grep -q shlibs || fail "the simulation has a shlibs file"

echo "== lintian"
lintian --tag-display-limit 0 "$packages"/*.deb 2>&1 | grep -v 'running with root privileges' | tee "$work/lintian.log" || true
! grep -q '^E: ' "$work/lintian.log" || fail "lintian reports errors"
! grep -q 'no-manual-page' "$work/lintian.log" || fail "the tool has no manual page"

echo "== the tool, unpacked into $work/root"
tool=$work/root/usr/bin/vorn-io
rc=0
env -i PATH=/usr/bin:/bin "$tool" version >"$work/out" 2>&1 || rc=$?
cat "$work/out"
((rc == 2)) && grep -q 'libvorn_motor\.so\.1.*--sim' "$work/out" || fail "without a driver: exit $rc"
env -i PATH=/usr/bin:/bin "$tool" --sim version | tee "$work/out"
grep -q "^motor-driver library: $work/root/$libdir/vorn_io/sim/libvorn_motor\.so\.1 (the simulation" "$work/out" ||
  fail "--sim version does not report the unpacked simulation"
env -i PATH=/usr/bin:/bin SPDLOG_STDOUT=true SPDLOG_SYSTEMD=false SPDLOG_LEVEL=info \
  "$tool" --sim lifter "$here/short_lifter.yaml" --to 1 >"$work/out" 2>&1 || { cat "$work/out"; fail "the simulated move failed"; }
grep -E 'simulated|lifter in state' "$work/out"
grep -q 'lifter in state 1' "$work/out" || fail "the simulated lifter did not reach state 1"
echo "== the Python module, unpacked into $work/root"
# Installed, libvorn_io.so.1 is in a folder the loader searches; unpacked, it is found through LD_LIBRARY_PATH.
python_env=(env -i PATH=/usr/bin:/bin "LD_LIBRARY_PATH=$work/root/$libdir" "PYTHONPATH=$work/root/$python_dir"
  PYTHONDONTWRITEBYTECODE=1)
"${python_env[@]}" "$tool" sim -- /usr/bin/python3 -c "import vorn_io; print(vorn_io.version())" >"$work/out" 2>&1 ||
  { cat "$work/out"; fail "importing vorn_io failed"; }
cat "$work/out"
grep -qE '^vorn_io version: [0-9.]+[0-9a-f]{7}, compile time: ' "$work/out" || fail "vorn_io.version() printed no version line"
"${python_env[@]}" "$tool" sim -- /usr/bin/python3 -c "
import vorn_io
with vorn_io.Lifter.from_file('$here/short_lifter.yaml') as lifter:
    print('python: lifter', lifter.move(1, timeout=60))
assert vorn_io.__file__.startswith('$work/root/'), vorn_io.__file__
" >"$work/out" 2>&1 || { cat "$work/out"; fail "the simulated move from Python failed"; }
cat "$work/out"
grep -q 'python: lifter MoveOutcome(reached=True' "$work/out" || fail "the lifter moved from Python did not reach state 1"
echo "== packages checked"
