#!/usr/bin/env bash
# Checks that a cross-built Windows program is self-contained: it may
# import only KERNEL32.dll, msvcrt.dll and ADVAPI32.dll (where the stack
# protector's runtime takes its random canary), which every Windows has.
# A 32-bit program must also be large-address-aware (4 GB of address space
# on 64-bit Windows, not 2).
#
#   tools/check_windows_imports.sh path/to/program.exe
set -euo pipefail
program=$1
headers=$(x86_64-w64-mingw32-objdump -p "$program")
imports=$(sed -n 's/^[[:space:]]*DLL Name: //p' <<<"$headers" | sort -u)
unexpected=$(grep -v -x -i -e KERNEL32.dll -e msvcrt.dll -e ADVAPI32.dll <<<"$imports" || true)
if [[ -n $unexpected ]]; then
  echo "check_windows_imports: $program needs DLLs that Windows does not ship:" >&2
  echo "$unexpected" >&2
  exit 1
fi
if grep -q '(PE32)' <<<"$headers" && ! grep -q 'large address aware' <<<"$headers"; then
  echo "check_windows_imports: $program is a 32-bit program that is not large-address-aware" >&2
  exit 1
fi
echo "$program imports only: $(tr '\n' ' ' <<<"$imports")"
