#!/usr/bin/env bash
# Logs three lines with SPDLOG_SYSTEMD=true into a real systemd-journald and
# reads the entries back with journalctl.
#
#   journal_test.sh <log child program> <log_child.cpp>
#
# journald runs in a mount namespace of this test's own, on tmpfs over /run and
# /var/log/journal, so the machine's journal (if it has one) is never written
# and nothing this test leaves behind outlives it. Exits 77 (skipped) where a
# mount namespace is not permitted.
set -euo pipefail

readonly skip=77
log_child=$1
source_file=$2

fail() {
  echo "FAIL: $*" >&2
  exit 1
}

if [[ -z ${VORN_IO_JOURNAL_NAMESPACE:-} ]]; then
  for tool in unshare mount journalctl jq; do
    command -v "$tool" >/dev/null || fail "$tool not found (see scripts/lib/packages.sh)"
  done
  if ! reason=$(unshare -m true 2>&1); then
    echo "SKIP: a private mount namespace is not permitted here (unshare -m: ${reason:-no reason given})"
    exit "$skip"
  fi
  VORN_IO_JOURNAL_NAMESPACE=1 exec unshare -m --propagation private bash "$0" "$@"
fi

# From here on, inside the namespace.
journald=
for candidate in /lib/systemd/systemd-journald /usr/lib/systemd/systemd-journald; do
  if [[ -x $candidate ]]; then
    journald=$candidate
    break
  fi
done
[[ -n $journald ]] || fail "systemd-journald not found (Debian package systemd)"

if ! reason=$(mount -t tmpfs vorn-io-test-run /run 2>&1); then
  echo "SKIP: cannot mount a tmpfs inside the mount namespace (${reason})"
  exit "$skip"
fi
if [[ -d /var/log/journal ]]; then
  mount -t tmpfs vorn-io-test-journal /var/log/journal
fi
mkdir -p /run/systemd/journald.conf.d /run/log/journal
# Volatile storage only, no kernel log read, nothing forwarded anywhere.
cat >/run/systemd/journald.conf.d/zz-vorn-io-test.conf <<'EOF'
[Journal]
Storage=volatile
ReadKMsg=no
ForwardToSyslog=no
ForwardToKMsg=no
ForwardToConsole=no
ForwardToWall=no
RateLimitIntervalSec=0
EOF

work=$(mktemp -d)
journald_pid=
cleanup() {
  if [[ -n $journald_pid ]]; then
    kill "$journald_pid" 2>/dev/null || true
    wait "$journald_pid" 2>/dev/null || true
  fi
  rm -rf "$work"
}
trap cleanup EXIT

# journald's own messages go to its standard error, not to the kernel log.
SYSTEMD_LOG_TARGET=console SYSTEMD_LOG_LEVEL=notice "$journald" 2>"$work/journald.err" &
journald_pid=$!

wait_until() {  # wait_until <seconds> <command ...>
  local deadline=$((SECONDS + $1))
  shift
  until "$@"; do
    ((SECONDS < deadline)) || return 1
    kill -0 "$journald_pid" 2>/dev/null || fail "journald ended early: $(cat "$work/journald.err")"
    sleep 0.1
  done
}
wait_until 30 test -S /run/systemd/journal/socket || fail "journald opened no socket: $(cat "$work/journald.err")"

# Stdout: the three lines, and nothing at all about the journal.
SPDLOG_STDOUT=true SPDLOG_SYSTEMD=true SPDLOG_LEVEL=info \
  "$log_child" "info:journal info" $'warn:journal warn\r\n' "error:journal error" >"$work/stdout"
printf '  1 [INFO] journal info\n  2 [WARN] journal warn\r\n\n  3 [ERROR] journal error\n' >"$work/stdout.expected"
cmp -s "$work/stdout" "$work/stdout.expected" ||
  fail "console output differs: $(od -c "$work/stdout")"

read_entries() {
  journalctl -D /run/log/journal -o json SYSLOG_IDENTIFIER=spdlog 2>/dev/null >"$work/entries.json" || true
  (($(wc -l <"$work/entries.json") >= 3))
}
wait_until 30 read_entries || fail "expected 3 journal entries, found: $(cat "$work/entries.json")"

line_of() {
  grep -n "log-call:$1\$" "$source_file" | cut -d: -f1
}

# sd_journal_send() drops trailing whitespace from a field it formats, so the
# warning's "\r\n" does not reach the journal. Should journalctl meet control
# characters in a field it writes it as an array of bytes; implode reads both.
actual=$(jq -s -c 'map({
    message: (.MESSAGE | if type == "array" then implode else . end),
    priority: .PRIORITY,
    identifier: .SYSLOG_IDENTIFIER,
    file: (.CODE_FILE | sub(".*/tests/support/"; "tests/support/")),
    line: .CODE_LINE,
    func: .CODE_FUNC})' "$work/entries.json")
expected=$(jq -n -c \
  --arg info_line "$(line_of info)" --arg warn_line "$(line_of warn)" --arg error_line "$(line_of error)" '[
    {message: "  1 [INFO] journal info", priority: "6", identifier: "spdlog",
     file: "tests/support/log_child.cpp", line: $info_line, func: "LogInfo"},
    {message: "  2 [WARN] journal warn", priority: "4", identifier: "spdlog",
     file: "tests/support/log_child.cpp", line: $warn_line, func: "LogWarn"},
    {message: "  3 [ERROR] journal error", priority: "3", identifier: "spdlog",
     file: "tests/support/log_child.cpp", line: $error_line, func: "LogError"}]')

if [[ $actual != "$expected" ]]; then
  echo "journal entries differ"
  echo "expected: $expected"
  echo "actual:   $actual"
  exit 1
fi
echo "journal entries as expected: $actual"
