#!/usr/bin/env bash
# Makes sure the Debian/Ubuntu packages the build needs are installed.
# As root it installs what is missing with apt-get; otherwise it prints the
# exact command to run and fails. Checking costs a few dpkg queries, so a
# second run is quick.
#
#   tools/install_deps.sh [extra-package ...]
set -euo pipefail

packages=(g++ cmake make pkg-config libfftw3-dev libgtest-dev libbenchmark-dev gnuplot-nox "$@")

if ! command -v dpkg-query >/dev/null 2>&1; then
  echo "install_deps: not a Debian-based system; install by hand: ${packages[*]}" >&2
  exit 1
fi

missing=()
for package in "${packages[@]}"; do
  status=$(dpkg-query -W -f='${Status}' "$package" 2>/dev/null || true)
  [[ "$status" == "install ok installed" ]] || missing+=("$package")
done
[[ ${#missing[@]} -eq 0 ]] && exit 0

if [[ $(id -u) -ne 0 ]]; then
  echo "install_deps: missing packages: ${missing[*]}" >&2
  echo "install them with:" >&2
  foreign=
  for package in "${missing[@]}"; do
    [[ $package == *:* ]] && foreign="sudo dpkg --add-architecture ${package##*:} && "
  done
  echo "  ${foreign}sudo apt-get update && sudo apt-get install -y ${missing[*]}" >&2
  exit 1
fi

echo "install_deps: installing ${missing[*]}"
export DEBIAN_FRONTEND=noninteractive
# A package of another architecture (wine32:i386) needs that architecture
# enabled first.
for package in "${missing[@]}"; do
  architecture=${package##*:}
  if [[ $package == *:* ]] && ! dpkg --print-foreign-architectures | grep -qx "$architecture"; then
    dpkg --add-architecture "$architecture"
  fi
done
apt-get update -qq
apt-get install -y -qq --no-install-recommends "${missing[@]}"
