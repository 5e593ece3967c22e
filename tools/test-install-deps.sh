#!/usr/bin/env bash
# Tests tools/install-deps.sh against an archive out of step with itself: a
# local file: repository, made here, is the only source of an overlay over
# the Debian 13 root (tools/run-tests-debian13.sh keeps it). The overlay
# needs no second debootstrap, starts clean on every run, and leaves the
# root untouched: its upper layer is a temporary folder, and its mount ends
# with this script's own mount namespace. The repository's base suite and
# security suite hold a Multi-Arch: same library whose amd64 half is newer
# in the security suite, whose i386 index does not match its Release file.
# Needs root (mounts, chroot). Its last line is a summary for .ci/run.
set -euo pipefail
clone=$(cd "$(dirname "$0")/.." && pwd)
root=${WIRENEST_DEBIAN13_ROOT:-/var/lib/wirenest/debian13}
if [ -z "${WIRENEST_DEPS_NS:-}" ]; then
  [ -e "$root/.wirenest-root" ] || "$clone/tools/run-tests-debian13.sh" true
  WIRENEST_DEPS_NS=1 exec unshare --mount --propagation private -- "$0" "$@"
fi
tmp=$(mktemp -d) m=$tmp/merged
trap 'umount -R "$m" && rm -rf --one-file-system "$tmp"' EXIT
mkdir "$tmp"/{upper,work,merged}
mount -t overlay overlay -o "lowerdir=$root,upperdir=$tmp/upper,workdir=$tmp/work" "$m"
mount -t proc proc "$m/proc"
mount --bind /dev/pts "$m/dev/pts"
rel=$(. "$m/etc/os-release" && echo "$VERSION_CODENAME")
rm -rf "$m"/etc/apt/sources.list* "$m"/etc/apt/apt.conf.d/*proxy* "$m"/var/lib/apt/lists/*
printf 'deb [trusted=yes] file:/repo %s main\n' "$rel" "$rel-security" > "$m/etc/apt/sources.list"
cp "$clone/tools/install-deps.sh" "$m/install-deps.sh"

# deb SUITE ARCH NAME VERSION [DEPENDS]: an empty package, listed in its index.
deb() {
  local d=$tmp/pkg/$3_$4_$2 f=pool/$3_$4_$2.deb
  mkdir -p "$d/DEBIAN" "$m/repo/pool" "$m/repo/dists/$1/main/binary-$2"
  printf 'Package: %s\nVersion: %s\nArchitecture: %s\nMaintainer: Wirenest <ci@localhost>\nDescription: test\n' "$3" "$4" "$2" > "$d/DEBIAN/control"
  [ "$3" != wn-lib ] || echo 'Multi-Arch: same' >> "$d/DEBIAN/control"
  [ -z "${5:-}" ] || echo "Depends: $5" >> "$d/DEBIAN/control"
  dpkg-deb -b -Zgzip "$d" "$m/repo/$f" >/dev/null
  { dpkg-deb -f "$m/repo/$f"; echo "Filename: $f"; echo "Size: $(stat -c %s "$m/repo/$f")"
    echo "SHA256: $(sha256sum < "$m/repo/$f" | cut -d' ' -f1)"; echo; } >> "$m/repo/dists/$1/main/binary-$2/Packages"
}
for a in amd64 i386; do deb "$rel" $a wn-lib 1.0; deb "$rel-security" $a wn-lib 1.1; done
deb "$rel" amd64 wn-tool 1.0 'wn-lib (>= 1.0)'
deb "$rel-security" amd64 wn-tool 1.1 'wn-lib (>= 1.1)'
deb "$rel" i386 wn-app 1.0 wn-lib
for s in "$rel" "$rel-security"; do
  ( printf 'Suite: %s\nCodename: %s\nDate: %s\nArchitectures: amd64 i386\nComponents: main\nSHA256:\n' "$s" "$s" "$(date -uR)"
    cd "$m/repo/dists/$s"
    for f in main/*/Packages; do echo " $(sha256sum < "$f" | cut -d' ' -f1) $(stat -c %s "$f") $f"; done
  ) > "$m/repo/dists/$s/Release"
done
# As on a machine that had the amd64 lists before it took on i386: apt keeps
# a suite's old lists when one of its new indexes fails.
inroot() { chroot "$m" /usr/bin/env -i PATH=/usr/sbin:/usr/bin:/sbin:/bin "$@"; }
inroot apt-get update -qq -o APT::Architectures=amd64
echo >> "$m/repo/dists/$rel-security/main/binary-i386/Packages"  # caught mid-sync

# row NAME EXIT LINES INSTALLED PACKAGES..: install-deps.sh told to install
# PACKAGES exits EXIT, prints LINES of its own (apt's log aside), and leaves
# the test's packages INSTALLED.
pass=0 fail=0
row() {
  local name=$1 want rc=0 out got; want=$(printf 'exit %s\n%s\n%s' "$2" "$3" "$4"); shift 4
  out=$(inroot WIRENEST_DEPS_PACKAGES="$*" /install-deps.sh 2>&1) || rc=$?
  got=$(printf 'exit %s\n%s\n' "$rc" "$(grep '^install-deps: ' <<<"$out")"
        { inroot dpkg -l 'wn-*' 2>/dev/null || true; } | awk '/^ii/ { printf "%s%s=%s", s, $2, $3; s = " " }')
  if [ "$got" = "$want" ]; then pass=$((pass + 1)); echo "ok: $name"; return; fi
  fail=$((fail + 1)); printf 'FAIL: %s\n--- want:\n%s\n--- got:\n%s\n--- output:\n%s\n' "$name" "$want" "$got" "$out"
}
idx="install-deps: passing over the index apt could not fetch: file:/repo/dists/$rel-security/main/binary-i386/Packages"
again="install-deps: the install could not be resolved; installing again with $rel as the target release (-t $rel)"
none="install-deps: nothing worked; packages: wn-app:i386; failed index: ${idx##* }"
# The amd64 half installed from the security suite is newer than any i386
# half there is: nothing short of a downgrade resolves, and a security
# update is not taken back to install a test tool.
inroot DEBIAN_FRONTEND=noninteractive apt-get install -qq -y wn-lib >/dev/null
row "an installed amd64 half newer than any i386 half" 1 "$idx
$again
$none" wn-lib:amd64=1.1 wn-app:i386
inroot dpkg -r wn-lib >/dev/null
row "an index that cannot be fetched is named and passed over" 0 "$idx" \
  "wn-app:i386=1.0 wn-lib:i386=1.0" wn-app:i386
row "an install that cannot be resolved is done from $rel" 0 "$idx
$again" "wn-app:i386=1.0 wn-lib:amd64=1.0 wn-lib:i386=1.0 wn-tool=1.0" wn-app:i386 wn-tool
row "a package that is nowhere fails, named with the index" 1 "$idx
$again
${none/wn-app:i386/wn-nowhere}" "wn-app:i386=1.0 wn-lib:amd64=1.0 wn-lib:i386=1.0 wn-tool=1.0" wn-tool wn-nowhere
echo "summary: Debian $(cat "$m/etc/debian_version") in an overlay, a repository out of step: $pass install-deps cases passed, $fail failed"
[ "$fail" -eq 0 ]
