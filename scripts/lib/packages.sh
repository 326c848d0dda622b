# Debian packages the project builds, tests and demonstrates with.
# Sourced by the scripts in scripts/; installs only what is missing.

VORN_IO_PACKAGES=(
  cmake g++ make pkg-config git
  libspdlog-dev libfmt-dev libyaml-cpp-dev libcli11-dev nlohmann-json3-dev
  libgtest-dev libgmock-dev libbenchmark-dev
  # The tests: systemd-journald and journalctl (a private journal), unshare
  # and mount (util-linux, mount), jq (reading journal entries), nm (binutils).
  systemd util-linux mount jq binutils
  # The Debian packages (scripts/package): dpkg-shlibdeps and dpkg-buildflags
  # (dpkg-dev), file (CPack reads the file types), gzip, and lintian to check them.
  dpkg-dev file gzip lintian
  # The manual page of the tool, from its --help.
  help2man
  # The ABI check and its baseline (abidw, abidiff).
  abigail-tools
)

# ensure_packages [extra package ...]
ensure_packages() {
  local wanted=("${VORN_IO_PACKAGES[@]}" "$@") missing=() pkg
  for pkg in "${wanted[@]}"; do
    if ! dpkg-query -W -f='${Status}' "$pkg" 2>/dev/null | grep -q "install ok installed"; then
      missing+=("$pkg")
    fi
  done
  if ((${#missing[@]} == 0)); then
    return 0
  fi
  echo "Installing missing Debian packages: ${missing[*]}"
  local sudo=()
  if ((EUID != 0)); then sudo=(sudo); fi
  "${sudo[@]}" apt-get update -qq
  DEBIAN_FRONTEND=noninteractive "${sudo[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}"
}
