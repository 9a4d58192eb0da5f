#!/usr/bin/env bash
# Checks the packages in build/packages as a user and a distribution would:
# lintian on the .deb (no error, no warning, no hardening note); the .deb
# installed with apt-get (root), its fir_bench run on the installed
# examples in a scratch folder, and removed again; the .tar.gz unpacked and
# its fir_bench run; the source tarball holding nothing but sources, and
# building and running with the README's command after unpacking; the
# 64-bit Windows zip unpacked, its licence files and CR LF README present,
# its fir_bench.exe run under Wine in its examples folder. Each run must end
# with exit code 0 and write the three result files whole.
#
#   tools/check_packages.sh
set -euo pipefail
cd "$(dirname "$0")/.."
packages=$PWD/build/packages
scratch=$(mktemp -d)
deb=$(ls "$packages"/fir-bench_*.deb)
trap 'rm -rf "$scratch"; apt-get remove -y -qq fir-bench >/dev/null 2>&1 || true' EXIT
tools/install_deps.sh unzip lintian

# The run in folder $1 by command $2..: exit code 0, the files of the examples.
check_run() {
  local dir=$1
  shift
  (cd "$dir" && printf '\n' | "$@" >console.txt 2>errors.txt) || { cat "$dir/errors.txt" >&2; return 1; }
  local expected=("output_linear.txt 100063" "output_fft.txt 102400" "output_diff.txt 100063" "log.txt 8")
  for entry in "${expected[@]}"; do
    local name=${entry% *} lines=${entry#* }
    local found
    found=$(tr -cd '\n' <"$dir/$name" | wc -c)
    [[ $found == "$lines" ]] || { echo "check_packages: $dir/$name: $found lines, not $lines" >&2; return 1; }
  done
  echo "check_packages: $* ran on the examples in $dir"
}

# Every tag lintian reports for the .deb fails the check, errors, warnings
# and the info level of the hardening notes alike.
# (Its note that it runs as root goes to standard error.)
report=$(lintian --display-level '>=info' --fail-on none "$deb" 2>/dev/null) ||
  { echo "check_packages: lintian could not check $(basename "$deb")" >&2; exit 1; }
if [[ -n $report ]]; then
  echo "check_packages: lintian on $(basename "$deb"):" >&2
  echo "$report" >&2
  exit 1
fi
echo "check_packages: lintian finds nothing in $(basename "$deb")"

echo "check_packages: installing $deb"
apt-get install -y -qq "$deb" >/dev/null
mkdir "$scratch/deb"
cp /usr/share/doc/fir-bench/examples/input.txt /usr/share/doc/fir-bench/examples/fir.txt "$scratch/deb"
check_run "$scratch/deb" /usr/bin/fir_bench
/usr/bin/fir_gen --version && /usr/bin/fir_sweep --version
MANPAGER=cat man fir_bench | grep -q "test bench for FIR filtering"
apt-get remove -y -qq fir-bench >/dev/null
[[ ! -e /usr/bin/fir_bench ]]

tarball=$(ls "$packages"/fir_bench-*-Linux-*.tar.gz)
tar -C "$scratch" -xzf "$tarball"
unpacked=$scratch/$(basename "$tarball" .tar.gz)
mkdir "$scratch/tgz"
cp "$unpacked"/share/doc/fir-bench/examples/input.txt "$unpacked"/share/doc/fir-bench/examples/fir.txt "$scratch/tgz"
check_run "$scratch/tgz" "$unpacked/bin/fir_bench"

# The source tarball: the repository's files and nothing else, then the
# README's first command (build the program, run it on the examples).
source_tarball=$(ls "$packages"/fir_bench-*-Source.tar.gz)
listed=$(tar -tzf "$source_tarball" | sed 's|^[^/]*/||' | grep -v '/$' | grep -v '^$' | sort)
if [[ -d .git ]]; then
  tracked=$(git ls-files | sort)
  if [[ $listed != "$tracked" ]]; then
    echo "check_packages: $(basename "$source_tarball") differs from the repository's files:" >&2
    diff <(echo "$tracked") <(echo "$listed") >&2 || true
    exit 1
  fi
fi
tar -C "$scratch" -xzf "$source_tarball"
source_tree=$scratch/$(basename "$source_tarball" .tar.gz)
make -C "$source_tree" run >"$scratch/source_build.txt" 2>&1 || { tail -30 "$scratch/source_build.txt" >&2; exit 1; }
check_run "$source_tree/build/release/run" "$source_tree/build/release/fir_bench"

if zip=$(ls "$packages"/fir_bench-*-win64.zip 2>/dev/null); then
  unzip -q "$zip" -d "$scratch"
  root=$scratch/$(basename "$zip" .zip)
  for licence in COPYING FFTW.txt winpthreads.txt; do
    [[ -s $root/licenses/$licence ]] || { echo "check_packages: $(basename "$zip") lacks licenses/$licence" >&2; exit 1; }
  done
  # Every line of the README ends with CR LF: no LF without its CR.
  if grep -q -v $'\r$' "$root/README.md"; then
    echo "check_packages: the README in $(basename "$zip") has lines without CR LF" >&2
    exit 1
  fi
  export WINEPREFIX=$PWD/build/windows/wineprefix WINEDEBUG=-all
  check_run "$root/examples" /usr/lib/wine/wine64 fir_bench.exe
else
  echo "check_packages: no Windows zip (make windows, then make package)"
fi
