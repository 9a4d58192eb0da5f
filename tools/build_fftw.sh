#!/usr/bin/env bash
# Builds FFTW 3 (double) for a cross target from Debian's own source
# package, once per target, into a cache outside the clone; later runs find
# it and do nothing. Prints the install prefix on its last line.
#
#   tools/build_fftw.sh x86_64-w64-mingw32 | i686-w64-mingw32 | i686-linux-gnu
#
# Needs root for apt-get (source packages are enabled in the existing Debian
# sources entry); without root it prints the commands and fails.
set -euo pipefail

version=3.3.10
host=${1:-x86_64-w64-mingw32}
# Every target takes the SIMD set of Debian's own FFTW, SSE2 and AVX
# (chosen at run time by the processor), so that all builds plan alike; on
# 32-bit Windows AVX made the FFT stage 1.8 times faster than SSE2 alone,
# and AVX2 as well 1.2 times slower than AVX (AMD Zen 5). Windows: FFTW's
# own aligned allocator (configure finds no aligned malloc for mingw).
# 32-bit: SSE2 arithmetic throughout (no x87 excess precision); on Windows
# the stack is realigned at entry, as 32-bit Windows keeps it only 4-byte
# aligned.
system=mingw extra=(--with-our-malloc) simd=(--enable-sse2 --enable-avx)
case $host in
  x86_64-w64-mingw32) cflags="-O3" ;;
  i686-w64-mingw32) cflags="-O3 -msse2 -mfpmath=sse -mstackrealign" ;;
  i686-linux-gnu) cflags="-O3 -msse2 -mfpmath=sse" system=linux extra=() ;;
  *) echo "build_fftw: unknown target '$host' (x86_64-w64-mingw32, i686-w64-mingw32 or i686-linux-gnu)" >&2; exit 2 ;;
esac
flags=(--host="$host" --enable-static --disable-shared "${simd[@]}" --disable-fortran --disable-doc "${extra[@]}")
cache=${XDG_CACHE_HOME:-$HOME/.cache}/fir_bench
key=$(printf '%s ' "$version" "${flags[@]}" "$cflags" | sha1sum | cut -c1-12)
prefix=$cache/fftw-$version-$system-$key

# Without the cross compiler, configure would fall back to the machine's own
# and fill the cache with a library of the wrong architecture.
if ! command -v "$host-gcc" >/dev/null; then
  echo "build_fftw: no $host-gcc: install the cross compiler first (make windows-deps or make linux32-deps)" >&2
  exit 1
fi

if [[ -f $prefix/lib/libfftw3.a && -f $prefix/lib/pkgconfig/fftw3.pc ]]; then
  echo "$prefix"
  exit 0
fi

sources=/etc/apt/sources.list.d/debian.sources
if [[ $(id -u) -ne 0 ]]; then
  echo "build_fftw: needs root to fetch Debian's fftw3 source package; run as root:" >&2
  echo "  sed -i 's/^Types: deb\$/Types: deb deb-src/' $sources && apt-get update && $0 $host" >&2
  exit 1
fi
if ! grep -q '^Types:.*deb-src' "$sources"; then
  sed -i 's/^Types: deb$/Types: deb deb-src/' "$sources"
  apt-get update -qq
fi

echo "build_fftw: building FFTW $version for $host once, into $prefix (about 5 minutes on 2 cores)" >&2
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
echo "build_fftw: FFTW for $host built in $((SECONDS - started)) s" >&2
echo "$prefix"
