#!/usr/bin/env bash
# Whether this machine starts 32-bit x86 programs: some kernels refuse them
# (no IA-32 emulation), and then 32-bit Wine cannot start either. Builds a
# 32-bit ELF program with binutils alone, no 32-bit library needed, whose
# only work is to exit with code 7, and runs it. Exits 0 when it ran,
# otherwise 1 with one line on standard error saying why.
set -uo pipefail
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
printf '.globl _start\n_start:\n  movl $1, %%eax\n  movl $7, %%ebx\n  int $0x80\n' >"$work/exit7.s"
if ! as --32 "$work/exit7.s" -o "$work/exit7.o" 2>/dev/null || ! ld -m elf_i386 "$work/exit7.o" -o "$work/exit7" 2>/dev/null; then
  echo "this machine's binutils cannot build a 32-bit x86 program" >&2
  exit 1
fi
"$work/exit7" 2>/dev/null
code=$?
if [[ $code -ne 7 ]]; then
  echo "this machine's kernel does not run 32-bit x86 programs (a test program exited with $code, not 7)" >&2
  exit 1
fi
exit 0
