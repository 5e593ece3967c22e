#!/usr/bin/env bash
# Runs tools/run-tests.sh again on Debian 13 (GCC 14, its mingw-w64 and
# binutils, Wine 10), in a Debian 13 root made with debootstrap from where
# this machine's apt takes its Debian packages, through its proxy if apt has
# one. The root is kept between runs outside the clone, so a second run on
# the same machine only installs what is missing in it.
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

# This machine's Debian sources as "URI SUITE COMPONENT.." lines, its own
# release's suites renamed to Debian 13's: the deb822 files, then the
# one-line ones. Archives with none of those suites stay out.
codename=$(. /etc/os-release && echo "${VERSION_CODENAME:-}")
shopt -s nullglob
deb822=(/etc/apt/sources.list.d/*.sources)
oneline=(/etc/apt/sources.lis[t] /etc/apt/sources.list.d/*.list)  # those there
sources=$({
  awk -v RS= -F '\n' '{
    delete f; key = ""
    for (i = 1; i <= NF; i++) {
      if ($i ~ /^#/) continue
      if ($i ~ /^[ \t]/) { f[key] = f[key] " " $i; continue }
      key = tolower(substr($i, 1, index($i, ":") - 1)); f[key] = substr($i, index($i, ":") + 1)
    }
    if (f["types"] !~ /(^|[ \t])deb([ \t]|$)/ || tolower(f["enabled"]) ~ /no/) next
    nu = split(f["uris"], uri, " "); ns = split(f["suites"], suite, " ")
    for (u = 1; u <= nu; u++) for (s = 1; s <= ns; s++) print uri[u], suite[s], f["components"]
  }' /dev/null "${deb822[@]}"
  sed -n 's/^[ \t]*deb[ \t]\+\(\[[^]]*\][ \t]*\)\?//p' /dev/null "${oneline[@]}"
} | awk -v from="$codename" '$2 == from || $2 == from "-updates" || $2 == from "-security" {
      sub("^" from, "trixie", $2); print }')
mirror=$(awk '$2 == "trixie" { print $1; exit }' <<<"$sources")
# The proxy apt is set to use, for debootstrap's downloads and apt in the root.
proxy=$(apt-config dump | grep -E '^Acquire::https?::Proxy' || true)
eval "$(apt-config shell http_proxy Acquire::http::Proxy https_proxy Acquire::https::Proxy)"
[ "${http_proxy:-}" != DIRECT ] || unset http_proxy
[ "${https_proxy:-}" != DIRECT ] || unset https_proxy
export http_proxy https_proxy

if [ ! -e "$root/.wirenest-root" ]; then
  if ! command -v debootstrap >/dev/null; then
    DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends debootstrap \
      || { apt-get update -qq && DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends debootstrap; }
  fi
  echo "[debian13] making the Debian 13 root $root (once)"
  rm -rf "$root.partial"
  mkdir -p "$(dirname "$root")"
  # With no source named here, debootstrap takes its own default.
  debootstrap --variant=minbase --include=git,ca-certificates trixie "$root.partial" ${mirror:+"$mirror"}
  rm -rf "$root"
  mv "$root.partial" "$root"
  date -u +%FT%TZ > "$root/.wirenest-root"
fi

# The root's apt follows this machine's sources and proxy on every run, so an
# older root does not keep pointing elsewhere.
if [ -n "$sources" ]; then
  rm -f "$root/etc/apt/sources.list"
  awk '{ printf "Types: deb\nURIs: %s\nSuites: %s\nComponents:", $1, $2
         for (i = 3; i <= NF; i++) printf " %s", $i; printf "\n\n" }' <<<"$sources" \
    > "$root/etc/apt/sources.list.d/debian.sources"
fi
if [ -n "$proxy" ]; then
  echo "$proxy" > "$root/etc/apt/apt.conf.d/80wirenest-proxy"
else
  rm -f "$root/etc/apt/apt.conf.d/80wirenest-proxy"
fi

# One build folder in the root, made anew when another clone uses it: a
# CMake tree belongs to one source folder.
build="$root/var/lib/wirenest-build"
if [ "$(cat "$build.source" 2>/dev/null)" != "$clone" ]; then
  rm -rf "$build"
  echo "$clone" > "$build.source"
fi
mkdir -p "$build" "$root$clone" "$clone/build"
cp /etc/resolv.conf "$root/etc/resolv.conf"  # apt-get in the root resolves its source's host

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
