#!/usr/bin/env bash
# Runs tools/run-tests.sh again on Debian 13 (GCC 14, its mingw-w64 and
# binutils, Wine 10), in a Debian 13 root made with debootstrap from
# Debian's packages. The root is kept between runs outside the clone, so a
# second run on the same machine only installs what is missing in it.
# The clone is bind-mounted at the same path inside the root, with a build
# folder of the root's own over its build/: the host's trees stay apart.
# Needs root (debootstrap, chroot and mounts), as CI has.
#
#   tools/run-tests-debian13.sh            every test, as tools/run-tests.sh
#   tools/run-tests-debian13.sh CMD ARG..  any command in the clone there,
#                                          e.g. ctest --preset windows -R e2e_install
set -euo pipefail
clone="$(cd "$(dirname "$0")/.." && pwd)"
root="${WIRENEST_DEBIAN13_ROOT:-/var/lib/wirenest/debian13}"
mirror="http://deb.debian.org/debian"

if [ ! -e "$root/.wirenest-root" ]; then
  if ! command -v debootstrap >/dev/null; then
    DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends debootstrap \
      || { apt-get update -qq && DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends debootstrap; }
  fi
  echo "[debian13] making the Debian 13 root $root (once)"
  rm -rf "$root.partial"
  mkdir -p "$(dirname "$root")"
  debootstrap --variant=minbase --include=git,ca-certificates trixie "$root.partial" "$mirror"
  rm -rf "$root"
  mv "$root.partial" "$root"
  date -u +%FT%TZ > "$root/.wirenest-root"
fi

# One build folder in the root, made anew when another clone uses it: a
# CMake tree belongs to one source folder.
build="$root/var/lib/wirenest-build"
if [ "$(cat "$build.source" 2>/dev/null)" != "$clone" ]; then
  rm -rf "$build"
  echo "$clone" > "$build.source"
fi
mkdir -p "$build" "$root$clone" "$clone/build"
cp /etc/resolv.conf "$root/etc/resolv.conf"  # apt-get in the root looks up Debian's mirror

# A mount namespace of its own: every mount below ends with this command.
exec unshare --mount --propagation private -- bash -euo pipefail -c '
  root=$1 clone=$2 build=$3
  mount -t proc proc "$root/proc"
  mount --rbind /dev "$root/dev"
  mount --bind "$clone" "$root$clone"
  mount --bind "$build" "$root$clone/build"
  exec chroot "$root" /usr/bin/env -i HOME=/root LANG=C.UTF-8 TERM="${TERM:-dumb}" CI="${CI:-}" \
    PATH=/usr/local/sbin:/usr/local/bin:/usr/sbin:/usr/bin:/sbin:/bin \
    bash -c "cd \"\$0\" && exec \"\$@\"" "$clone" "${@:4}"
' run-tests-debian13 "$root" "$clone" "$build" "${@:-tools/run-tests.sh}"
