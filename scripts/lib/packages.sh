# The Debian packages the project needs, grouped by what needs them. Sourced by
# the scripts in scripts/, each of which asks for its groups:
#
#   ensure_packages build man test
#
# A package another part comes to need is one more line in its group.
# shellcheck disable=SC2034  # the groups are read through a name reference

# Configuring and building the library and the vorn-io tool.
VORN_IO_PACKAGES_build=(
  cmake g++ make pkg-config git
  libspdlog-dev libfmt-dev libyaml-cpp-dev
  libcli11-dev nlohmann-json3-dev
)
# The tool's manual page, made from its --help in every plain build of all
# targets (the option VORN_IO_MAN_PAGE turns it off).
VORN_IO_PACKAGES_man=(
  help2man gzip
)
# The test suite.
VORN_IO_PACKAGES_test=(
  libgtest-dev libgmock-dev
  # The journal test: systemd-journald and journalctl (systemd) in a mount
  # namespace of its own (unshare from util-linux, mount), its entries read with jq.
  systemd util-linux mount jq
  # The exported-symbol checks: nm and readelf.
  binutils
  # The ABI check against the committed baseline (abidw, abidiff).
  abigail-tools
)
# The Python module vorn_io (built where these are found) and its tests:
# Debian's pybind11 and Python headers, pytest, and NumPy and matplotlib,
# which the module uses where they are installed (traces as arrays, plots)
# and must work without.
VORN_IO_PACKAGES_python=(
  pybind11-dev python3-dev python3-pytest python3-numpy python3-matplotlib
)
# The Debian packages (scripts/package): dpkg-shlibdeps and dpkg-buildflags
# (dpkg-dev), file (CPack reads the file types), gzip, and lintian to check them.
VORN_IO_PACKAGES_package=(
  dpkg-dev file gzip lintian
)
# The benchmarks (scripts/bench); rt-tests' cyclictest is the baseline of the
# tick's lateness.
VORN_IO_PACKAGES_bench=(
  libbenchmark-dev rt-tests
)
# The sanitizer and fuzzer builds (scripts/ci-hardening): clang and its runtimes.
VORN_IO_PACKAGES_hardening=(
  clang libclang-rt-14-dev
)

# ensure_packages <group> ...
# Installs the packages of the groups that are missing, with apt-get. apt's own
# output goes to a log that is shown (its last lines) only when it fails; one
# line says what was installed and how long it took.
ensure_packages() {
  local group wanted=() missing=() pkg
  if (($# == 0)); then
    echo "ensure_packages: name the package groups (scripts/lib/packages.sh) to install" >&2
    return 2
  fi
  for group in "$@"; do
    if ! declare -p "VORN_IO_PACKAGES_$group" >/dev/null 2>&1; then
      echo "ensure_packages: no package group '$group' in scripts/lib/packages.sh" >&2
      return 2
    fi
    local -n packages="VORN_IO_PACKAGES_$group"
    wanted+=("${packages[@]}")
    unset -n packages
  done
  for pkg in "${wanted[@]}"; do
    if ! dpkg-query -W -f='${Status}' "$pkg" 2>/dev/null | grep -q "install ok installed"; then
      missing+=("$pkg")
    fi
  done
  if ((${#missing[@]} == 0)); then
    return 0
  fi

  local sudo=() log started=$SECONDS status=0
  if ((EUID != 0)); then sudo=(sudo); fi
  log=$(mktemp "${TMPDIR:-/tmp}/vorn_io-apt.XXXXXX")
  printf 'Installing Debian packages (%s): %s ...' "$*" "${missing[*]}"
  # Waits for another apt or dpkg run on the machine rather than failing at once.
  local apt=(apt-get -q -o DPkg::Lock::Timeout=600 -o Dpkg::Use-Pty=0)
  { "${sudo[@]}" "${apt[@]}" update &&
    DEBIAN_FRONTEND=noninteractive "${sudo[@]}" "${apt[@]}" install -y --no-install-recommends "${missing[@]}"; } \
    </dev/null >"$log" 2>&1 || status=$?
  if ((status != 0)); then
    printf ' failed (apt-get exited %d). Its last lines (all in %s):\n' "$status" "$log"
    tail -n 20 "$log" | sed 's/^/  | /'
    return "$status"
  fi
  local more
  more=$(sed -n 's/^.* \([0-9][0-9]*\) newly installed.*$/\1/p' "$log")
  more=$((${more:-${#missing[@]}} - ${#missing[@]}))
  printf ' done in %d s' $((SECONDS - started))
  if ((more > 0)); then printf ', with %d more packages they need' "$more"; fi
  printf '\n'
  rm -f "$log"
}
