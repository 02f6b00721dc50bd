#!/usr/bin/env bash
# Installs what building and testing need, from Debian packages, as root:
# the Linux toolchain and GoogleTest, mingw-w64 for the 32-bit Windows build
# with its zlib, Wine (32- and 64-bit) to run that build, Xvfb, xdotool and
# ImageMagick for the window tests, zip/unzip for the benchmarks, yamllint
# for the deployment playbook in examples/deploy, openssl and osslsigncode to
# sign and verify executables in the signing tests, python3-jsonschema to
# check run reports against their schema.
#
# Safe to run again: when everything is there it only looks (well under a
# second) and changes nothing.
#
# Some machines cannot run 32-bit Linux programs natively, and Wine's 32-bit
# loader is one. There the script registers qemu's i386 user-mode emulator
# (from bookworm-backports: the 7.x in bookworm itself starts Wine about a
# hundred times slower) with the kernel's binfmt_misc.
set -euo pipefail

packages=(
  cmake ninja-build g++ clang libclang-rt-14-dev zlib1g-dev libssl-dev googletest
  g++-mingw-w64-i686-posix mingw-w64-i686-dev libz-mingw-w64-dev
  wine wine32:i386 wine64
  xvfb xauth xdotool imagemagick zip unzip binfmt-support
  yamllint openssl osslsigncode python3-jsonschema
)
qemu_min_version=1:10
backports_suite=bookworm-backports

say() { echo "setup.sh: $*"; }
die() { echo "setup.sh: $*" >&2; exit 1; }

as_root() {
  [ "$(id -u)" -eq 0 ] || die "$1 needs root; run: sudo $0"
}

apt_updated=0
apt_update() {
  [ "$apt_updated" -eq 0 ] || return 0
  # A third-party source that cannot be reached must not stop the install of
  # packages that come from Debian; a missing package still fails below.
  apt-get update -qq || say "apt-get update reported errors; going on with the lists it has"
  apt_updated=1
}

apt_install() {
  DEBIAN_FRONTEND=noninteractive apt-get install -y -q --no-install-recommends "$@"
}

# --- Debian packages --------------------------------------------------------
native_arch=$(dpkg --print-architecture)
declare -A installed=()
while read -r name status; do
  if [ "$status" = installed ]; then installed[$name]=1; fi
done < <(dpkg-query -W -f='${Package}:${Architecture} ${db:Status-Status}\n' 2>/dev/null)
is_installed() {
  case $1 in
    *:*) [ -n "${installed[$1]:-}" ] ;;
    *) [ -n "${installed[$1:$native_arch]:-}" ] || [ -n "${installed[$1:all]:-}" ] ;;
  esac
}

missing=()
for p in "${packages[@]}"; do
  is_installed "$p" || missing+=("$p")
done

if [ ${#missing[@]} -gt 0 ]; then
  as_root "installing ${missing[*]}"
  say "installing ${missing[*]}"
  if ! dpkg --print-foreign-architectures | grep -qx i386; then
    dpkg --add-architecture i386
    apt_updated=0
  fi
  apt_update
  apt_install "${missing[@]}"
fi

# --- running 32-bit programs ------------------------------------------------
wine32_loader=/usr/lib/wine/wine
runs_32bit() { timeout 120 "$wine32_loader" --version >/dev/null 2>&1; }

qemu_version() { dpkg-query -W -f='${Version}' qemu-user-static 2>/dev/null || true; }
qemu_is_new() {
  local v
  v=$(qemu_version)
  [ -n "$v" ] && dpkg --compare-versions "$v" ge "$qemu_min_version"
}

binfmt_dir=/proc/sys/fs/binfmt_misc
mount_binfmt() {
  if [ ! -e "$binfmt_dir/register" ]; then
    mount -t binfmt_misc binfmt_misc "$binfmt_dir" ||
      die "cannot mount binfmt_misc at $binfmt_dir"
  fi
}
register_qemu_i386() {
  # An older registration may point at another emulator, and with flag F the
  # kernel keeps the file it opened at registration: replace it.
  if [ -e "$binfmt_dir/qemu-i386" ]; then echo -1 >"$binfmt_dir/qemu-i386"; fi
  printf '%s' ':qemu-i386:M::\x7fELF\x01\x01\x01\x00\x00\x00\x00\x00\x00\x00\x00\x00\x02\x00\x03\x00:\xff\xff\xff\xff\xff\xfe\xfe\x00\xff\xff\xff\xff\xff\xff\xff\xff\xfe\xff\xff\xff:/usr/bin/qemu-i386-static:F' \
    >"$binfmt_dir/register"
}

[ -x "$wine32_loader" ] || die "$wine32_loader is missing although wine32:i386 is installed"
# Running through an old qemu works, but so slowly that the tests time out.
if ! runs_32bit || { [ -e "$binfmt_dir/qemu-i386" ] && ! qemu_is_new; }; then
  as_root "setting up 32-bit emulation"
  # Mounted first: the emulator's package registers itself when it installs.
  mount_binfmt
  if ! qemu_is_new; then
    if ! grep -rqs "$backports_suite" /etc/apt/sources.list /etc/apt/sources.list.d/; then
      say "adding $backports_suite to the package sources"
      echo "deb http://deb.debian.org/debian $backports_suite main" \
        >/etc/apt/sources.list.d/backports.list
      apt_updated=0
    fi
    apt_update
    say "installing qemu-user-static from $backports_suite"
    apt_install -t "$backports_suite" qemu-user-static
  fi
  say "registering qemu-i386 for 32-bit programs"
  register_qemu_i386
  runs_32bit || die "32-bit programs still do not run ($wine32_loader --version fails)"
fi
