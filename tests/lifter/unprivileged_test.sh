#!/usr/bin/env bash
# Runs a gtest filter of a test program as a user without the privilege of
# real-time scheduling (nobody, no capabilities, an rtprio limit of 0), so
# that the lifter's refusal path runs even where the suite runs as root.
# Elsewhere the test program meets that path by itself: skipped (77).
#
#   unprivileged_test.sh <test program> <gtest filter>
set -euo pipefail
program=$1
filter=$2
if ((EUID != 0)); then
  echo "skipped: not root, so the suite itself runs without the privilege"
  exit 77
fi
if ! command -v setpriv >/dev/null || ! command -v prlimit >/dev/null; then
  echo "skipped: setpriv and prlimit (util-linux) are needed"
  exit 77
fi
status=0
prlimit --rtprio=0 setpriv --reuid=nobody --regid=nogroup --clear-groups --inh-caps=-all \
  "$program" --gtest_filter="$filter" || status=$?
if ((status == 126 || status == 127)); then
  echo "skipped: user nobody cannot run $program (a folder it may not enter?)"
  exit 77
fi
exit "$status"
