#!/usr/bin/env bash
# The dynamic symbol table of libvorn_io holds the library's interface and
# nothing internal: every class and function of namespace vorn_io marked
# VORN_IO_EXPORT in the public headers, get_version_str and the logger (its Instance() static and guard, so modules
# share one logger), and no standard-library or third-party code.
#
#   exports_test.sh <libvorn_io.so> <include dir>
set -euo pipefail
library=$1
include_dir=$2

symbols=$(nm -DC --defined-only "$library" | cut -d' ' -f2-)
failed=0
fail() {
  echo "FAIL: $*"
  failed=1
}
exported() {  # exported <type letters> <demangled name>
  grep -qxF -- "$2" <<<"$(grep -E "^[$1] " <<<"$symbols" | cut -d' ' -f2-)"
}

mapfile -t classes < <(grep -rhoP '(class|struct) VORN_IO_EXPORT \K\w+' "$include_dir" | sort -u)
((${#classes[@]} > 0)) || fail "no exported class found under $include_dir"
allowed='get_version_str\(\)'
for class in "${classes[@]}"; do
  grep -qE "^. (.* )?(\w+::)*${class}::" <<<"$symbols" || fail "nothing of class $class is exported"
  allowed+="|(.* )?(\w+::)*${class}::.*|(typeinfo|typeinfo name|vtable) for (\w+::)*${class}"
done
# The description readers and their helpers, free functions of namespace vorn_io.
mapfile -t functions < <(grep -rhoP '^VORN_IO_EXPORT [^(]*\bvorn_io::\K\w+(?=\()|^VORN_IO_EXPORT [^(]* \K\w+(?=\()' \
  "$include_dir" | grep -vx get_version_str | sort -u)
((${#functions[@]} >= 9)) || fail "only ${#functions[@]} exported functions found under $include_dir"
for function in "${functions[@]}"; do
  grep -qE "^T (.* )?vorn_io::${function}(\[abi:cxx11\])?\(" <<<"$symbols" || fail "vorn_io::$function is not exported"
  allowed+="|(.* )?vorn_io::${function}(\[abi:cxx11\])?\(.*"
done
# quorvane::Logger has it at namespace level.
allowed+='|(.* )?quorvane::.*|guard variable for quorvane::.*'

# Polymorphic classes: a host must be able to tell devices apart across modules.
for class in VornIoInterface VirtualGripper ServoGripper UpdownLifter PrivateTimer; do
  exported V "typeinfo for $class" || fail "typeinfo for $class is not exported"
done
exported T 'UpdownLifter::lastMove() const' || fail "UpdownLifter::lastMove is not exported"
exported T 'get_version_str()' || fail "get_version_str is not exported"
exported u 'quorvane::Logger::Instance()::instance' || fail "the logger instance is not a unique global symbol"
exported u 'guard variable for quorvane::Logger::Instance()::instance' || fail "the logger's guard is not a unique global symbol"

leaks=$(grep -vE "^. (${allowed})$" <<<"$symbols" || true)
[[ -z $leaks ]] || fail "internal symbols exported:"$'\n'"$leaks"

((failed == 0)) && echo "exports: ${#classes[@]} classes, ${#functions[@]} functions, get_version_str and the logger; nothing else"
exit "$failed"
