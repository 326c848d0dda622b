#!/usr/bin/env bash
# The ABI of libvorn_io against its committed baseline (abi/<soname>.abi):
# fails, with abidiff's report, when an exported symbol was removed or
# changed or an exported type's layout changed; passes when symbols were only
# added, and lists them. A changed baseline is made on purpose, with
# scripts/abi-baseline (see the README).
#
#   abi_test.sh <libvorn_io.so> <source folder> [reason to skip]
#
# A reason to skip (a build that cannot be compared with the baseline) makes
# it report the test as skipped (77).
set -euo pipefail
library=$1
source_dir=$2
if (($# > 2)); then
  echo "ABI check skipped: $3"
  exit 77
fi
source "$source_dir/scripts/lib/abi.sh"

soname=$(abi_soname "$library")
baseline=$source_dir/abi/$soname.abi
if [[ ! -f $baseline ]]; then
  echo "FAIL: no ABI baseline for $soname ($baseline); a new soname needs one: scripts/abi-baseline"
  exit 1
fi
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
abi_dump "$source_dir" "$library" "$work/build.abi"

status=0
abi_compare "$baseline" "$work/build.abi" || status=$?
case $status in
  0) echo "ABI of $soname: the baseline's" ;;
  3) echo "ABI of $soname: the baseline's, with the additions above" ;;
  1) echo "FAIL: the ABI of $soname changed incompatibly (above); keep it, or give the library a new soname" \
    "and record the new ABI with scripts/abi-baseline" ;;
  *) echo "FAIL: abidiff could not compare $baseline with the build" ;;
esac
exit $((status == 0 || status == 3 ? 0 : 1))
