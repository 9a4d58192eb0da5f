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
  echo "  sudo apt-get update && sudo apt-get install -y ${missing[*]}" >&2
  exit 1
fi

echo "install_deps: installing ${missing[*]}"
export DEBIAN_FRONTEND=noninteractive
apt-get update -qq
apt-get install -y -qq --no-install-recommends "${missing[@]}"
