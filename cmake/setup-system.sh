#!/usr/bin/env bash
# Installs the Debian packages the build and the tests need. Safe to run again:
# a stamp file keyed by the package list skips the work when nothing changed.
set -euo pipefail

PKGS_BUILD=(gcc-mingw-w64-i686-posix g++-mingw-w64-i686-posix gcc-mingw-w64-x86-64-posix g++-mingw-w64-x86-64-posix
            binutils-mingw-w64-i686 cmake make ninja-build pkg-config
            libstb-dev googletest 7zip zip unzip dpkg-dev xz-utils python3
            ccache librsvg2-bin osslsigncode openssl)
PKGS_RUN=(xvfb xauth xdotool imagemagick x11-utils fonts-wqy-microhei)
PKGS_WINE=(wine wine64 wine32:i386)

log() { printf '[setup] %s\n' "$*" >&2; }

SUDO=""
[ "$(id -u)" -eq 0 ] || SUDO="sudo"

# An index that fails to download (a mirror in the middle of a sync) is not
# fatal: apt keeps going without it, and the Wine retry below copes with the
# version skew that this leaves between i386 and amd64.
apt_update() {
  $SUDO apt-get update -o Acquire::Retries=3 >/tmp/qvr-apt-update.log 2>&1 ||
    log "apt-get update reported errors (continuing): $(grep -m1 '^E:' /tmp/qvr-apt-update.log || true)"
}
apt_install() { $SUDO apt-get install -y -o Acquire::Retries=3 --no-install-recommends "$@"; }

# Some kernels run without 32-bit emulation (ia32_emulation=off): a 32-bit
# program then fails with "Exec format error", and so does Wine's 32-bit
# loader. There, 32-bit Linux programs run through qemu-user, registered with
# binfmt_misc. qemu 7.2 (bookworm) ignores MAP_FIXED_NOREPLACE and makes every
# Wine start take about a minute; the bookworm-backports build does not.
ensure_i386_exec() {
  if /lib/ld-linux.so.2 --help >/dev/null 2>&1; then return 0; fi
  log "this kernel does not run 32-bit programs; running them through qemu-user (binfmt_misc)"
  local have=""
  command -v qemu-i386-static >/dev/null && have=$(qemu-i386-static --version | awk 'NR==1{split($3,v,"."); print v[1]}')
  if [ -z "$have" ] || [ "$have" -lt 8 ]; then
    echo "deb http://deb.debian.org/debian bookworm-backports main" | $SUDO tee /etc/apt/sources.list.d/qvr-backports.list >/dev/null
    apt_update
    apt_install -t bookworm-backports qemu-user-static
  fi
  mountpoint -q /proc/sys/fs/binfmt_misc || $SUDO mount -t binfmt_misc binfmt_misc /proc/sys/fs/binfmt_misc
  if [ -e /proc/sys/fs/binfmt_misc/qemu-i386 ]; then echo -1 | $SUDO tee /proc/sys/fs/binfmt_misc/qemu-i386 >/dev/null; fi
  # "F": the interpreter is opened now, so it also serves other mount namespaces.
  printf '%s' ':qemu-i386:M::\x7fELF\x01\x01\x01\x00\x00\x00\x00\x00\x00\x00\x00\x00\x02\x00\x03\x00:\xff\xff\xff\xff\xff\xfe\xfe\x00\xff\xff\xff\xff\xff\xff\xff\xff\xfe\xff\xff\xff:/usr/bin/qemu-i386-static:FP' |
    $SUDO tee /proc/sys/fs/binfmt_misc/register >/dev/null
  /lib/ld-linux.so.2 --help >/dev/null 2>&1 || { log "32-bit programs still do not run"; return 1; }
  log "32-bit programs run through $(qemu-i386-static --version | head -1)"
}

# Tests pick their locale on purpose; zh_CN.UTF-8 (code page 936 in Wine, UTF-8
# file names on the Linux side) must exist for the Chinese file-name cases.
ensure_locale() {
  locale -a 2>/dev/null | grep -qix 'zh_CN.utf8' && return 0
  log "generating the zh_CN.UTF-8 locale"
  dpkg -s locales >/dev/null 2>&1 || apt_install locales
  $SUDO localedef -i zh_CN -f UTF-8 zh_CN.UTF-8
}

stamp_dir=/var/cache/qvr-setup
stamp="$stamp_dir/$(printf '%s\n' "${PKGS_BUILD[@]}" "${PKGS_RUN[@]}" "${PKGS_WINE[@]}" v3 | sha1sum | cut -c1-12)"
if [ -f "$stamp" ] && command -v wine >/dev/null && command -v i686-w64-mingw32-g++-posix >/dev/null; then
  log "system packages already installed"
  ensure_i386_exec
  ensure_locale
  exit 0
fi

export DEBIAN_FRONTEND=noninteractive
$SUDO dpkg --add-architecture i386

# Source packages: the third-party libraries are built from Debian's upstream sources.
if ! grep -rqs '^Types:.*deb-src' /etc/apt/sources.list.d/ && ! grep -qs '^deb-src' /etc/apt/sources.list; then
  log "adding a deb-src entry for bookworm main"
  $SUDO tee /etc/apt/sources.list.d/qvr-debsrc.sources >/dev/null <<'SRC'
Types: deb-src
URIs: http://deb.debian.org/debian
Suites: bookworm
Components: main
Signed-By: /usr/share/keyrings/debian-archive-keyring.gpg
SRC
fi


apt_update
log "installing build and test packages"
apt_install "${PKGS_BUILD[@]}" "${PKGS_RUN[@]}"

log "installing wine (64-bit and 32-bit)"
if ! apt_install "${PKGS_WINE[@]}"; then
  # The i386 index of the security suite can lag behind amd64: the same library
  # then has two versions and Multi-Arch: same refuses the pair. Pin the
  # security suite below the main suite so both architectures take the main
  # suite's versions, and try again.
  log "plain wine install failed (i386/amd64 version skew); retrying with bookworm-security pinned below bookworm"
  $SUDO tee /etc/apt/preferences.d/qvr-security-low >/dev/null <<'PIN'
Package: *
Pin: release n=bookworm-security
Pin-Priority: 100
PIN
  apt_update
  # Packages already installed at a security-suite version whose i386 twin only
  # exists at another version (Multi-Arch: same needs equal versions): apt names
  # them as "X:i386 ... not installable". Pin each such package, with every
  # installed package built from the same source, to the i386 version so apt
  # moves them together; repeat until the install resolves.
  : >/tmp/qvr-skew.pref
  for round in 1 2 3 4 5 6; do
    sim=$($SUDO apt-get install -s -y --no-install-recommends --allow-downgrades "${PKGS_WINE[@]}" 2>&1) && break
    names=$(grep -oE '[A-Za-z0-9.+-]+:i386 \(?[^)]*\)? ?but it is not installable|Depends: [A-Za-z0-9.+-]+:i386' <<<"$sim" |
            grep -oE '[A-Za-z0-9.+-]+:i386' | sed 's/:i386$//' | sort -u)
    added=0
    for pkg in $names; do
      ver=$(dpkg-query -W -f='${Version}' "$pkg:amd64" 2>/dev/null || dpkg-query -W -f='${Version}' "$pkg" 2>/dev/null) || continue
      [ -n "$ver" ] || continue
      cand=$(apt-cache policy "$pkg:i386" | awk '/Candidate:/{print $2; exit}')
      [ -n "$cand" ] && [ "$cand" != "(none)" ] && [ "$cand" != "$ver" ] || continue
      grep -q "^# $pkg\$" /tmp/qvr-skew.pref && continue
      src=$(dpkg-query -W -f='${source:Package}' "$pkg:amd64" 2>/dev/null || dpkg-query -W -f='${source:Package}' "$pkg")
      sibs=$(dpkg-query -W -f='${Package} ${Version} ${source:Package}\n' | awk -v s="$src" -v v="$ver" '$3==s && $2==v {print $1}' | sort -u | tr '\n' ' ')
      log "  $pkg: amd64 $ver has no i386 twin; pinning ${sibs}to $cand"
      printf '# %s\nPackage: %s\nPin: version %s\nPin-Priority: 1001\n\n' "$pkg" "$sibs" "$cand" >>/tmp/qvr-skew.pref
      added=1
    done
    [ $added -eq 1 ] || break
    $SUDO cp /tmp/qvr-skew.pref /etc/apt/preferences.d/qvr-skew
  done
  apt_install --allow-downgrades "${PKGS_WINE[@]}"
  log "wine installed with the security suite pinned low"
fi

ensure_i386_exec
ensure_locale
$SUDO mkdir -p "$stamp_dir"
$SUDO touch "$stamp"
log "system packages ready"
