#!/usr/bin/env bash
# Checks what ./scripts/demo printed: every step present, in order, and each
# showing what it is there to show. Looks at the printed lines only, never at
# how long anything took.
#
#   demo_check.sh <the demo's output, standard output and error together>
set -euo pipefail
output=$1

# step  must  extended regex that a line of the step's output matches (has) or
#             that no line of it matches (lacks)
rules=$(
  cat <<'RULES'
1 has   ^vorn_io version: [0-9]+\.[0-9]+\.[0-9]+
1 has   ^motor-driver library: .*\(the simulation
2 has   ^examples/lifter\.yaml: clean$
3 has   \[INFO\] Get max torque: [0-9.]+, stop\.
3 has   \[INFO\] set pos [0-9.-]+, current pos [0-9.-]+, current torque: [0-9.]+
3 has   ^vorn-io: lifter in state 0 after
3 has   ^vorn-io: the torque hold stopped the motor on [0-9]+ ticks
3 has   ^demo: exit 4, as this step means to show
3 has   ^demo: the held move's trace is in .*demo-held-move\.csv
4 has   ^vorn-io: lifter in state 1 after
4 lacks Get max torque|torque hold stopped
5 has   \[INFO\] The gripper has get cmd : 1
5 has   ^vorn-io: gripper settled after [0-9]+ polls
6 has   \[INFO\] The gripper has get cmd : 0
6 has   ^vorn-io: gripper settled after [0-9]+ polls
RULES
)
steps=$(awk 'END { print $1 }' <<<"$rules")

failures=0
fail() {
  echo "demo check: FAIL: $*" >&2
  failures=$((failures + 1))
}

# The lines of step <n>: from its heading to the next one (or the closing line).
step_lines() {
  awk -v n="$1" '/^### step [0-9]+:/ { at = $3 + 0; next } /^== demonstration done/ { at = 0 } at == n' "$output"
}

headings=$(grep -oE '^### step [0-9]+:' "$output" | grep -oE '[0-9]+' | paste -sd' ' || true)
[[ $headings == "$(seq -s' ' 1 "$steps")" ]] ||
  fail "steps shown: '${headings}', expected 1 to $steps in order"
grep -qE "^== demonstration done: $steps steps in " "$output" || fail "no closing line for $steps steps"
! grep -E 'the demonstration stops here' "$output" || fail "the demonstration stopped early"

while read -r step must regex; do
  lines=$(step_lines "$step")
  case $must in
    has) grep -qE -- "$regex" <<<"$lines" || fail "step $step printed no line matching: $regex" ;;
    lacks) ! grep -qE -- "$regex" <<<"$lines" || fail "step $step printed a line matching: $regex" ;;
    *) fail "unknown rule '$must' for step $step" ;;
  esac
done <<<"$rules"

if ((failures > 0)); then
  echo "demo check: $failures failed (output in $output)" >&2
  exit 1
fi
echo "demo check: all $steps steps showed what they are there to show"
