#!/usr/bin/env bash
# Builds the third-party libraries for i686 Windows from the upstream sources in
# Debian's source packages, into a cache outside the repository:
#   $QVR_DEPS_CACHE/<key>/{include,lib,bin}
# The key covers this script, the cross compiler and the source package
# versions, so a second run with the same inputs only prints the prefix.
# Prints the prefix on stdout (last line).
set -euo pipefail

here=$(cd "$(dirname "$0")" && pwd)
cache=${QVR_DEPS_CACHE:-$HOME/.cache/qvr-deps}
CC=i686-w64-mingw32-gcc-posix
CXX=i686-w64-mingw32-g++-posix
AR=i686-w64-mingw32-ar
HOST=i686-w64-mingw32
JOBS=$(nproc)
# The libraries carry no folder of the build machine (assertions and traces
# name their sources relative to the unpacked package).
prefix_map() { echo "-ffile-prefix-map=$1/=deps/"; }

# Every function and datum in a section of its own: the engine's link drops
# what it does not call. Lua is built for size, the 7z decoders and CRC for
# speed. Lua, libcurl and the 7z reader carry no unwind tables (about 66 KB):
# Lua raises its errors with longjmp, and a C++ exception escaping a native
# function, a libcurl callback or a 7z stream callback ends the process either
# way (nothing above them catches).
sections="-ffunction-sections -fdata-sections"

log() { printf '[deps] %s\n' "$*" >&2; }

srcver() { apt-cache showsrc "$1" 2>/dev/null | awk '/^Version:/{print $2; exit}'; }

SRC_PKGS=(lua5.2 curl 7zip zlib wxwidgets3.2)
key_input=$( {
  cat "$0"
  $CXX --version | head -1
  for p in "${SRC_PKGS[@]}"; do echo "$p $(srcver "$p")"; done
  dpkg-query -W -f='${Package} ${Version}\n' googletest libstb-dev 2>/dev/null || true
} )
key=$(printf '%s' "$key_input" | sha1sum | cut -c1-16)
prefix="$cache/$key"
if [ -f "$prefix/.complete" ]; then
  log "cached: $prefix"
  echo "$prefix"
  exit 0
fi

work="$cache/work-$key"
rm -rf "$work" "$prefix"
mkdir -p "$work" "$prefix/include" "$prefix/lib" "$prefix/bin"

fetch() { # fetch <srcpkg>: downloads the source package into $work/<srcpkg>
  local p=$1
  mkdir -p "$work/$p"
  (cd "$work/$p" && apt-get source --download-only -qq "$p" >&2)
}
orig_tarball() { ls "$work/$1"/*.orig.tar.* | head -1; }

# ---- Lua 5.2 --------------------------------------------------------------
log "Lua 5.2"
fetch lua5.2
mkdir -p "$work/lua" && tar -xf "$(orig_tarball lua5.2)" -C "$work/lua" --strip-components=1
(
  cd "$work/lua/src"
  objs=()
  for f in *.c; do
    case $f in lua.c|luac.c) continue;; esac
    # io.read("*n") scans numbers with the system C library's fscanf, as Lua
    # built with Microsoft's compiler does (the C99 scanner is 16 KB of the
    # engine for this one call); what io.write prints stays the C99 printf's,
    # the same text as tostring.
    stdio=()
    [ "$f" = liolib.c ] && stdio=(-D__USE_MINGW_ANSI_STDIO=0 -Dfprintf=__mingw_fprintf)
    $CC -Os $sections -fno-asynchronous-unwind-tables $(prefix_map "$work/lua") -DLUA_COMPAT_ALL "${stdio[@]}" \
      -c "$f" -o "${f%.c}.o"
    objs+=("${f%.c}.o")
  done
  $AR rcs "$prefix/lib/liblua52.a" "${objs[@]}"
  # luac for the target: compiles chunks with the 32-bit layout the engine loads.
  $CC -O2 -DLUA_COMPAT_ALL -static luac.c "$prefix/lib/liblua52.a" -o "$prefix/bin/luac52.exe"
  $CC -O2 -DLUA_COMPAT_ALL -static lua.c "$prefix/lib/liblua52.a" -o "$prefix/bin/lua52.exe"
  mkdir -p "$prefix/include/lua52"
  cp lua.h luaconf.h lualib.h lauxlib.h lua.hpp "$prefix/include/lua52/" 2>/dev/null ||
    cp lua.h luaconf.h lualib.h lauxlib.h "$prefix/include/lua52/"
)

# ---- 7-Zip C reader and encoders ------------------------------------------
log "7-Zip C reader and encoders"
fetch 7zip
mkdir -p "$work/7zip"
tarball=$(orig_tarball 7zip)
tar -xf "$tarball" -C "$work/7zip"
cdir=$(dirname "$(find "$work/7zip" -path '*/C/7zDec.c' | head -1)")
(
  cd "$cdir"
  files=(7zAlloc.c 7zArcIn.c 7zBuf.c 7zBuf2.c 7zCrc.c 7zCrcOpt.c 7zDec.c 7zFile.c 7zStream.c
         Bcj2.c Bra.c Bra86.c BraIA64.c CpuArch.c Delta.c Lzma2Dec.c LzmaDec.c)
  objs=()
  for f in "${files[@]}"; do
    [ -f "$f" ] || { log "missing $f in 7zip C/"; exit 1; }
    # The reader carries no unwind tables (like Lua and libcurl: nothing that
    # it calls back raises through it). Its CRC table stays out of the data
    # sections: for this target GCC puts a zeroed variable that has a section
    # of its own in .data$ instead of .bss, and the 12 KB table would take
    # room in every installer file.
    data=$sections
    [ "$f" = 7zCrc.c ] && data=-ffunction-sections
    # Speed where the bytes pass: the decoders, filters, CRC and the folder
    # driver; the archive's header reader and the rest are built for size.
    opt=-O2
    case $f in 7zAlloc.c|7zArcIn.c|7zBuf.c|7zBuf2.c|7zFile.c|7zStream.c|BraIA64.c|CpuArch.c|Delta.c) opt=-Os;; esac
    $CC $opt $data -fno-asynchronous-unwind-tables $(prefix_map "$work/7zip") -D_7ZIP_PPMD_SUPPPORT_OFF \
      -DZ7_PPMD_SUPPORT_OFF -c "$f" -o "${f%.c}.o"
    objs+=("${f%.c}.o")
  done
  $AR rcs "$prefix/lib/lib7zdec.a" "${objs[@]}"
  # The LZMA/LZMA2 encoders for the packager, single-threaded (the packager
  # compresses its solid blocks side by side itself); the x86 branch
  # converter, CRC and CPU probes come from the reader library above.
  enc=(Alloc.c LzFind.c LzFindOpt.c LzmaEnc.c Lzma2Enc.c)
  objs=()
  for f in "${enc[@]}"; do
    [ -f "$f" ] || { log "missing $f in 7zip C/"; exit 1; }
    $CC -O2 -DZ7_ST -c "$f" -o "${f%.c}.enc.o"
    objs+=("${f%.c}.enc.o")
  done
  $AR rcs "$prefix/lib/lib7zenc.a" "${objs[@]}"
  mkdir -p "$prefix/include/7zip"
  cp ./*.h "$prefix/include/7zip/"
)

# ---- nanosvg (from wxWidgets' third-party folder) ---------------------------
log "nanosvg"
fetch wxwidgets3.2
mkdir -p "$work/wx"
tarball=$(orig_tarball wxwidgets3.2)
member=$(tar -tf "$tarball" | grep -E '3rdparty/nanosvg/src/nanosvg\.h$' | head -1)
base=${member%/src/nanosvg.h}
tar -xf "$tarball" -C "$work/wx" "$base/src/nanosvg.h" "$base/src/nanosvgrast.h"
mkdir -p "$prefix/include/nanosvg"
cp "$work/wx/$base/src/nanosvg.h" "$work/wx/$base/src/nanosvgrast.h" "$prefix/include/nanosvg/"

# ---- zlib -----------------------------------------------------------------------
# Raw inflate and CRC-32 for the skin package (and deflate for the packager).
# Built from the source package rather than taken from the MinGW binary one:
# every function in a section of its own and no unwind tables, so the engine
# keeps only what it calls (about 13 KB less). Inflate and the checksums keep
# -O2, the rest is built for size.
log "zlib"
fetch zlib
mkdir -p "$work/zlib" && tar -xf "$(orig_tarball zlib)" -C "$work/zlib" --strip-components=1
(
  cd "$work/zlib"
  objs=()
  for f in adler32.c compress.c crc32.c deflate.c infback.c inffast.c inflate.c inftrees.c trees.c uncompr.c \
           zutil.c; do
    opt=-Os
    case $f in adler32.c|crc32.c|inffast.c|inflate.c|inftrees.c) opt=-O2;; esac
    $CC $opt $sections -fno-asynchronous-unwind-tables $(prefix_map "$work/zlib") -c "$f" -o "${f%.c}.o"
    objs+=("${f%.c}.o")
  done
  $AR rcs "$prefix/lib/libz.a" "${objs[@]}"
  mkdir -p "$prefix/include/zlib"
  cp zlib.h zconf.h "$prefix/include/zlib/"
)

# ---- libcurl with Schannel ---------------------------------------------------
# Only what an HTTP(S) POST needs: no other protocol, no proxies, cookies, HSTS,
# alt-svc, DNS over HTTPS, netrc, MIME forms, digest/NTLM/AWS authentication,
# option introspection, IPv6 (the client asks for IPv4 only) or the wake-up
# socket pair of the multi interface (the easy interface never wakes it).
# libcurl formats its text itself; the few status lines and host:port pairs it
# scans go through the system C library's sscanf, not the C99 one (16 KB). Built for size, unused functions dropped when the
# engine links.
log "libcurl (Schannel, static)"
fetch curl
mkdir -p "$work/curl"
tar -xf "$(orig_tarball curl)" -C "$work/curl" --strip-components=1
cmake -S "$work/curl" -B "$work/curl-build" -G Ninja \
  -DCMAKE_TOOLCHAIN_FILE="$here/toolchain-mingw32.cmake" \
  -DCMAKE_BUILD_TYPE=MinSizeRel -DCMAKE_INSTALL_PREFIX="$prefix" \
  -DCMAKE_C_FLAGS="$sections -fno-asynchronous-unwind-tables -D__USE_MINGW_ANSI_STDIO=0 $(prefix_map "$work/curl") $(prefix_map "$work/curl-build")" \
  -DBUILD_SHARED_LIBS=OFF -DBUILD_CURL_EXE=OFF -DBUILD_TESTING=OFF \
  -DCURL_USE_SCHANNEL=ON -DCURL_USE_OPENSSL=OFF -DCURL_USE_LIBSSH2=OFF -DCURL_USE_LIBPSL=OFF \
  -DCURL_ZLIB=OFF -DCURL_BROTLI=OFF -DCURL_ZSTD=OFF -DUSE_NGHTTP2=OFF -DUSE_LIBIDN2=OFF \
  -DCURL_DISABLE_LDAP=ON -DCURL_DISABLE_LDAPS=ON -DENABLE_MANUAL=OFF -DHTTP_ONLY=ON \
  -DCURL_DISABLE_ALTSVC=ON -DCURL_DISABLE_COOKIES=ON -DCURL_DISABLE_DOH=ON -DCURL_DISABLE_GETOPTIONS=ON \
  -DCURL_DISABLE_HSTS=ON -DCURL_DISABLE_LIBCURL_OPTION=ON -DCURL_DISABLE_MIME=ON -DCURL_DISABLE_NETRC=ON \
  -DCURL_DISABLE_NTLM=ON -DCURL_DISABLE_CRYPTO_AUTH=ON -DCURL_DISABLE_PROXY=ON -DCURL_DISABLE_PARSEDATE=ON \
  -DCURL_DISABLE_PROGRESS_METER=ON -DCURL_DISABLE_SHUFFLE_DNS=ON -DENABLE_UNIX_SOCKETS=OFF \
  -DCURL_DISABLE_SOCKETPAIR=ON -DENABLE_IPV6=OFF -DENABLE_UNICODE=OFF >&2
cmake --build "$work/curl-build" -j"$JOBS" >&2
cmake --install "$work/curl-build" >&2

# ---- GoogleTest / GoogleMock -------------------------------------------------
log "GoogleTest"
cmake -S /usr/src/googletest -B "$work/gtest-build" -G Ninja \
  -DCMAKE_TOOLCHAIN_FILE="$here/toolchain-mingw32.cmake" \
  -DCMAKE_BUILD_TYPE=Release -DCMAKE_INSTALL_PREFIX="$prefix" \
  -Dgtest_disable_pthreads=OFF -DBUILD_GMOCK=ON -DINSTALL_GTEST=ON >&2
cmake --build "$work/gtest-build" -j"$JOBS" >&2
cmake --install "$work/gtest-build" >&2

# ---- header-only libraries from the Debian -dev packages ---------------------
log "stb_image header"
mkdir -p "$prefix/include/stb"
cp /usr/include/stb/stb_image.h "$prefix/include/stb/"

rm -rf "$work"
touch "$prefix/.complete"
log "built: $prefix"
echo "$prefix"
