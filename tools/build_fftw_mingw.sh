#!/usr/bin/env bash
# Builds FFTW 3 (double) for Windows with mingw-w64 from Debian's own source
# package, once per target, into a cache outside the clone; later runs find
# it and do nothing. Prints the install prefix on its last line.
#
#   tools/build_fftw_mingw.sh [x86_64 | i686]     (default x86_64)
#
# Needs root for apt-get (source packages are enabled in the existing Debian
# sources entry); without root it prints the commands and fails.
set -euo pipefail

version=3.3.10
arch=${1:-x86_64}
# FFTW's own aligned allocator: its configure finds no aligned malloc for
# mingw. 64-bit: the same SIMD set as Debian's own FFTW, so both builds plan
# alike. 32-bit: SSE2 arithmetic throughout (no x87 excess precision), and
# the stack realigned at entry, as 32-bit Windows keeps it only 4-byte
# aligned.
case $arch in
  x86_64) simd=(--enable-sse2 --enable-avx) cflags="-O3" ;;
  i686) simd=(--enable-sse2) cflags="-O3 -msse2 -mfpmath=sse -mstackrealign" ;;
  *) echo "build_fftw_mingw: unknown target '$arch' (x86_64 or i686)" >&2; exit 2 ;;
esac
flags=(--host="$arch"-w64-mingw32 --enable-static --disable-shared "${simd[@]}" --disable-fortran --disable-doc
       --with-our-malloc)
cache=${XDG_CACHE_HOME:-$HOME/.cache}/fir_bench
key=$(printf '%s ' "$version" "${flags[@]}" "$cflags" | sha1sum | cut -c1-12)
prefix=$cache/fftw-$version-mingw-$key

if [[ -f $prefix/lib/libfftw3.a && -f $prefix/lib/pkgconfig/fftw3.pc ]]; then
  echo "$prefix"
  exit 0
fi

sources=/etc/apt/sources.list.d/debian.sources
if [[ $(id -u) -ne 0 ]]; then
  echo "build_fftw_mingw: needs root to fetch Debian's fftw3 source package; run as root:" >&2
  echo "  sed -i 's/^Types: deb\$/Types: deb deb-src/' $sources && apt-get update && $0" >&2
  exit 1
fi
if ! grep -q '^Types:.*deb-src' "$sources"; then
  sed -i 's/^Types: deb$/Types: deb deb-src/' "$sources"
  apt-get update -qq
fi

echo "build_fftw_mingw: building FFTW $version for $arch-w64-mingw32 once, into $prefix (about 5 minutes on 2 cores)" >&2
started=$SECONDS
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
(cd "$work" && apt-get source --download-only -qq fftw3 >/dev/null 2>&1)
tar -C "$work" -xf "$work"/fftw3_"$version".orig.tar.gz
cd "$work/fftw-$version"
./configure --prefix="$prefix" "${flags[@]}" CFLAGS="$cflags" >"$work/configure.log" 2>&1 ||
  { tail -30 "$work/configure.log" >&2; exit 1; }
# Only the library and its pkg-config file; the tools and tests are not needed.
for part in kernel simd-support dft rdft reodft api; do
  make -j2 -C "$part" >>"$work/make.log" 2>&1 || { tail -30 "$work/make.log" >&2; exit 1; }
done
make -j2 libfftw3.la fftw3.pc >>"$work/make.log" 2>&1 || { tail -30 "$work/make.log" >&2; exit 1; }
{ make install-libLTLIBRARIES install-pkgconfigDATA && make -C api install-includeHEADERS; } >>"$work/make.log" 2>&1 ||
  { tail -30 "$work/make.log" >&2; exit 1; }
echo "build_fftw_mingw: FFTW for $arch-w64-mingw32 built in $((SECONDS - started)) s" >&2
echo "$prefix"
