#!/usr/bin/env bash
# CI's Debian 13 ("trixie") part: a root made with mmdebstrap from this
# machine's own Debian package source (as apt is configured), the build
# packages installed in it, then the build with -Werror and every test that
# needs no QEMU PXA machine (QEMU 9.2 removed them), run inside that root.
#
#   .ci/debian13.sh            (as root; CI calls it from .ci/run)
#
# The root is kept between runs under $GPIO_CI_CACHE (default
# /var/tmp/tolvar-ci), keyed by its suite, source and packages, and never
# changed: each run builds on an overlay of it that is thrown away. A root
# older than a week is made anew; GPIO_DEBIAN13_FRESH=1 makes it anew now.
set -euo pipefail
cd "$(dirname "$0")/.."
src=$PWD
suite=trixie

# .ci/run's packages as Debian 13 names them.
packages=(cmake g++ make libgtest-dev libcli11-dev python3
          gcc-arm-none-eabi libstdc++-arm-none-eabi-dev libnewlib-dev qemu-system-arm
          python3-pefile llvm file
          g++-mingw-w64-i686 clang
          sigrok-cli gtkwave librsvg2-bin
          libsigrokcxx-dev libglibmm-2.4-dev libzip-dev pkg-config time
          pulseview xvfb xauth
          libunicorn-dev)

fail() { echo "error: Debian 13 part: $*" >&2; exit 1; }
# This machine's own tools for making and entering the root.
if ! command -v mmdebstrap >/dev/null; then
  bash .ci/install_packages.sh mmdebstrap  # fails, naming it, if it cannot be had
fi
command -v unshare >/dev/null || fail "unshare not found (apt-get install util-linux)"

# The Debian archive this machine installs from: the source of its own
# release's suite (not the security archive, which has no plain suite).
codename=$(. /etc/os-release && echo "${VERSION_CODENAME:-}")
[[ -n "$codename" ]] || fail "no VERSION_CODENAME in /etc/os-release: cannot tell which apt source is Debian's archive"
mirror=$(apt-get indextargets --format '$(RELEASE) $(REPO_URI)' 2>/dev/null |
         awk -v suite="$codename" '$1 == suite { print $2; exit }')
[[ -n "$mirror" ]] || fail "no apt source for suite '$codename' in /etc/apt/sources.list(.d): nowhere to fetch '$suite' from"

# Without what no step reads (documentation, translations, and the Thumb
# libraries of the ARM compiler: every ARM build here is -marm), and without
# a sync per file: a lost root is made anew.
mmdebstrap_options=(--variant=apt --include="$(IFS=,; echo "${packages[*]}")"
                    --dpkgopt=force-unsafe-io
                    --dpkgopt='path-exclude=/usr/share/doc/*'
                    --dpkgopt='path-exclude=/usr/share/man/*'
                    --dpkgopt='path-exclude=/usr/share/info/*'
                    --dpkgopt='path-exclude=/usr/share/locale/*'
                    --dpkgopt='path-exclude=/usr/lib/gcc/arm-none-eabi/*/thumb/*'
                    --aptopt='Acquire::Languages "none"')

cache=${GPIO_CI_CACHE:-/var/tmp/tolvar-ci}
key=$(printf '%s\n' "$suite" "$mirror" "${mmdebstrap_options[@]}" | sha256sum | cut -c1-16)
root=$cache/debian13-$key
mkdir -p "$cache"
if [[ -d "$root" && ( "${GPIO_DEBIAN13_FRESH:-0}" == 1 || -n "$(find "$root" -maxdepth 0 -mtime +6)" ) ]]; then
  rm -rf "$root"
fi

if [[ ! -d "$root" ]]; then
  echo "Debian 13 root: $suite from $mirror, with: ${packages[*]}"
  rm -rf "$root.new"
  log=$cache/debian13-mmdebstrap.log
  start=$(date +%s)
  if ! mmdebstrap "${mmdebstrap_options[@]}" "$suite" "$root.new" "deb $mirror $suite main" >"$log" 2>&1; then
    tail -n 30 "$log" >&2
    rm -rf "$root.new"
    missing=$(sed -nE "s/^E: Unable to locate package (.*)$/\1/p; s/^E: Package '([^']*)' has no installation candidate$/\1/p" "$log" | sort -u | tr '\n' ' ')
    [[ -z "$missing" ]] || fail "package(s) ${missing% } cannot be had from $mirror $suite"
    if grep -qE "does not have a Release file|404 +Not Found|no such suite|Failed to fetch .*/dists/$suite/" "$log"; then
      fail "suite '$suite' cannot be had from $mirror"
    fi
    fail "mmdebstrap could not make the $suite root (log above, whole in $log)"
  fi
  echo "Debian 13 root made in $(( $(date +%s) - start )) s: $(chroot "$root.new" dpkg-query -W -f='.\n' | wc -l) packages, $(du -sm "$root.new" | cut -f1) MB"
  rm -rf "$cache"/debian13-????????????????  # older keys' roots
  mv "$root.new" "$root"
fi

# What runs inside: the host tree with GCC 14 and its tests (the PXA
# machines' tests skip themselves, naming QEMU's version; the .exe patched
# where WinMain is called is left out by name: that patch edits the branch
# as Debian 12's ARM compiler lays it out), then the Release build (-O3).
steps='
cmake --preset host
cmake --build --preset host
ctest --preset host -E "/entry_returns_"
cmake --workflow --preset release
'

# The run's own layer over the kept root, and a copy of the tree (without
# its builds): nothing of this run stays in the root or in this tree.
work=$(mktemp -d "$cache/debian13-run.XXXXXX")
cleanup() { rm -rf "$work"; }
trap cleanup EXIT
trap "exit 130" INT TERM HUP  # the clean-up runs on these too
mkdir -p "$work/upper" "$work/overlay-work" "$work/root"

# Everything mounted lives in a mount namespace of its own, gone with it
# however the run ends; the PID namespace ends whatever the tests leave
# running (Xvfb, QEMU).
unshare --mount --pid --fork --propagation private -- bash -euo pipefail -c '
  root=$1 work=$2 src=$3
  merged=$work/root
  mount -t overlay overlay -o "lowerdir=$root,upperdir=$work/upper,workdir=$work/overlay-work" "$merged"
  mount -t proc proc "$merged/proc"
  mount -t sysfs -o ro sysfs "$merged/sys"
  mount --rbind /dev "$merged/dev"   # with /dev/pts: the serial-port tests use ptys
  mkdir -p "$merged/src"
  tar -C "$src" --exclude=./build --exclude=./.git -cf - . | tar -C "$merged/src" -xf -
  exec chroot "$merged" /usr/bin/env -i PATH=/usr/sbin:/usr/bin:/sbin:/bin HOME=/root LANG=C.UTF-8 \
    CI=true GPIO_REQUIRE_WINCE_CHECK=1 GPIO_REQUIRE_WAVEFORM_TOOLS=1 \
    bash -euo pipefail -c "cd /src && $4"
' debian13 "$root" "$work" "$src" "$steps"
