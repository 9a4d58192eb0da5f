#!/usr/bin/env bash
# Checks the packages in build/packages as a user would use them: installs
# the .deb with apt-get (root), runs the installed fir_bench on the
# installed examples in a scratch folder, and removes the package again;
# unpacks the .tar.gz and runs its fir_bench; unpacks the 64-bit Windows zip
# and runs its fir_bench.exe under Wine in its examples folder. Each run
# must end with exit code 0 and write the three result files whole.
#
#   tools/check_packages.sh
set -euo pipefail
cd "$(dirname "$0")/.."
packages=$PWD/build/packages
scratch=$(mktemp -d)
deb=$(ls "$packages"/fir-bench_*.deb)
trap 'rm -rf "$scratch"; apt-get remove -y -qq fir-bench >/dev/null 2>&1 || true' EXIT
tools/install_deps.sh unzip

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

echo "check_packages: installing $deb"
apt-get install -y -qq "$deb" >/dev/null
mkdir "$scratch/deb"
cp /usr/share/fir_bench/input.txt /usr/share/fir_bench/fir.txt "$scratch/deb"
check_run "$scratch/deb" /usr/bin/fir_bench
/usr/bin/fir_gen --version && /usr/bin/fir_sweep --version
MANPAGER=cat man fir_bench | grep -q "test bench for FIR filtering"
apt-get remove -y -qq fir-bench >/dev/null
[[ ! -e /usr/bin/fir_bench ]]

tarball=$(ls "$packages"/fir_bench-*-Linux-*.tar.gz)
tar -C "$scratch" -xzf "$tarball"
unpacked=$scratch/$(basename "$tarball" .tar.gz)
mkdir "$scratch/tgz"
cp "$unpacked"/share/fir_bench/input.txt "$unpacked"/share/fir_bench/fir.txt "$scratch/tgz"
check_run "$scratch/tgz" "$unpacked/bin/fir_bench"

if zip=$(ls "$packages"/fir_bench-*-win64.zip 2>/dev/null); then
  unzip -q "$zip" -d "$scratch"
  examples=$scratch/$(basename "$zip" .zip)/examples
  export WINEPREFIX=$PWD/build/windows/wineprefix WINEDEBUG=-all
  check_run "$examples" /usr/lib/wine/wine64 fir_bench.exe
else
  echo "check_packages: no Windows zip (make windows, then make package)"
fi
