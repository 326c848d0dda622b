# The ABI of libvorn_io as abigail-tools see it. Sourced by the ABI check
# (tests/common/abi_test.sh) and by scripts/abi-baseline, so that the
# baseline and every build are read and compared alike.
#
# The baseline is an abidw dump of the library built with debugging
# information; only the types of the installed public headers count, so
# whatever the library keeps in its own headers (the devices' state) can
# change freely. Locations, build paths and the library's own path are left
# out, so that a build in another folder, or without ccache, reads the same.

# The folders of the installed public headers, from the source folder.
ABI_HEADER_DIRS=(include/vorn_io motor/include/vorn_motor)

# abi_dump <source folder> <library> <output file>
abi_dump() {
  local source_dir library=$2 output=$3 headers=() dir
  source_dir=$(realpath "$1")
  for dir in "${ABI_HEADER_DIRS[@]}"; do
    headers+=(--headers-dir "$source_dir/$dir")
  done
  abidw "${headers[@]}" --drop-private-types --no-corpus-path --no-comp-dir-path --no-show-locs \
    --type-id-style hash --out-file "$output" "$library"
  # Each source file's name is as the compiler was given it: absolute, or
  # relative to the build folder under ccache. abidiff does not compare it;
  # written from the source folder, a dump reads the same from any build.
  sed -i -E "s#^( *<abi-instr [^>]* path=')(\.\./)*(${source_dir}/)?#\1#" "$output"
  local undescribed
  undescribed=$(abi_undescribed "$output")
  if [[ -n $undescribed ]]; then
    echo "abidw found no declaration of these exported functions, so their types cannot be compared" \
      "(built without debugging information, or without -femit-class-debug-always?):"$'\n'"$undescribed" >&2
    return 1
  fi
}

# abi_undescribed <dump>
# Prints, demangled, each exported function whose declaration the dump lacks:
# a change to its types would go unseen. Constructors and destructors aside:
# abidw ties them to no declaration, and their symbols name their parameters.
abi_undescribed() {
  local dump=$1 line symbol names
  local -A described=()
  while read -r symbol; do
    described[$symbol]=1
  done < <(grep -oE "elf-symbol-id='[^']+'" "$dump" | cut -d"'" -f2)
  grep -oE "<elf-symbol name='[^']+' type='func-type'[^>]*" "$dump" | while read -r line; do
    # The symbol and its aliases: any of them may carry the declaration.
    names=$(sed -E "s/.* name='([^']+)'.*/\1/" <<<"$line")
    if [[ $line == *" alias='"* ]]; then
      names+=" $(sed -E "s/.* alias='([^']+)'.*/\1/" <<<"$line" | tr ',' ' ')"
    fi
    for symbol in $names; do
      [[ -n ${described[$symbol]:-} ]] && continue 2
    done
    c++filt <<<"${names%% *}"
  done | grep -vE '(^|::)([A-Za-z_][A-Za-z_0-9]*)::~?\2\(' || true
}

# abi_soname <library>: the soname, which names the baseline (abi/<soname>.abi).
abi_soname() {
  objdump -p "$1" | awk '$1 == "SONAME" { print $2 }'
}

# abi_compare <baseline dump> <new dump>
# Prints abidiff's report and returns
#   0  the same ABI;
#   1  an incompatible one: a symbol removed, a function's or an exported
#      type's layout changed;
#   2  abidiff itself failed;
#   3  the baseline's ABI with symbols added (the report lists them).
abi_compare() {
  local baseline=$1 dump=$2 status=0
  # abidiff's status is a bit field: 1 error, 2 usage error, 4 ABI change,
  # 8 incompatible change. An added symbol is a change (4) too, so the
  # verdict comes from a second run that leaves additions out.
  abidiff "$baseline" "$dump" || status=$?
  if ((status & 3)); then
    return 2
  fi
  if ((status == 0)); then
    return 0
  fi
  status=0
  abidiff --no-added-syms "$baseline" "$dump" >/dev/null || status=$?
  if ((status & 3)); then
    return 2
  fi
  if ((status != 0)); then
    return 1
  fi
  return 3
}
