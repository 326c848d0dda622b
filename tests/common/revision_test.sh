#!/usr/bin/env bash
# The build-time revision step (cmake/VornIoRevision.cmake) against a scratch
# git checkout: the header follows HEAD, is left untouched while HEAD stays
# put (so the version line is not rebuilt on every build), and reads 0000000
# outside a checkout.
#
#   revision_test.sh <path to VornIoRevision.cmake>
set -euo pipefail
script=$1
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

fail() {
  echo "FAIL: $*" >&2
  exit 1
}

revision_of() {  # revision_of <source dir> <header>
  cmake -DSOURCE_DIR="$1" -DOUTPUT="$2" -P "$script"
  sed -n 's/^#define VORN_IO_REVISION "\(.*\)"$/\1/p' "$2"
}

git_in() {
  git -C "$work/repo" -c user.name=test -c user.email=test@example.invalid -c commit.gpgsign=false "$@"
}

mkdir -p "$work/repo" "$work/plain"
git init -q "$work/repo"
echo one >"$work/repo/file"
git_in add file
git_in commit -q -m one
header=$work/revision.h

first=$(revision_of "$work/repo" "$header")
[[ $first == "$(git_in rev-parse --short=7 HEAD)" ]] || fail "revision $first is not HEAD's"
[[ $first =~ ^[0-9a-f]{7}$ ]] || fail "revision '$first' is not 7 lowercase hex digits"

touch -d '2000-01-01 00:00:00' "$header"
[[ $(revision_of "$work/repo" "$header") == "$first" ]] || fail "revision changed without a commit"
[[ $(stat -c %Y "$header") == "$(date -d '2000-01-01 00:00:00' +%s)" ]] || fail "unchanged header was rewritten"

echo two >"$work/repo/file"
git_in commit -q -a -m two
second=$(revision_of "$work/repo" "$header")
[[ $second == "$(git_in rev-parse --short=7 HEAD)" && $second != "$first" ]] || fail "revision did not follow HEAD"

[[ $(revision_of "$work/plain" "$work/plain.h") == 0000000 ]] || fail "outside a checkout the revision is not 0000000"
echo "revision header follows HEAD: $first -> $second; outside a checkout 0000000"
