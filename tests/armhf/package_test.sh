#!/bin/sh
# The unit's package (tools/build-unit.sh) as the board's dpkg sees it: its files in their
# places and nothing named ampctl on the command path, its dependencies and service, lintian
# without errors; then installed into a scratch root beside a package that owns
# /usr/bin/ampctl (as Hamlib's does), upgraded and purged there, with the unit's settings
# under /opt/set left byte for byte as they were.
# Usage: package_test.sh BUILD_DIR
set -u
BUILD="$1"
failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }
check() { desc="$1"; shift; "$@" >/dev/null 2>&1 || fail "$desc"; }

deb="$(ls -t "$BUILD"/ampctl-unit_*_armhf.deb 2>/dev/null | head -n 1)"
[ -n "$deb" ] || { echo "FAIL: no package in $BUILD (tools/build-unit.sh makes it)"; exit 1; }
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT

# Contents.
dpkg-deb -c "$deb" | awk '{print $6 $7 $8}' > "$work/files"
for f in ./opt/IxoMav/ampctl ./usr/bin/my_temp ./lib/systemd/system/ampctl-unit.service \
    ./opt/IxoMav/start.png ./opt/IxoMav/start120.png ./opt/IxoMav/status.png ./opt/IxoMav/statusB.png \
    ./opt/IxoMav/img1.png ./opt/IxoMav/img1b.png ./opt/IxoMav/img3.png ./opt/IxoMav/img3b.png ./opt/IxoMav/m5a.png \
    './opt/fonts/PTS55F_W.ttf->/usr/share/fonts/truetype/paratype/PTS55F.ttf' \
    './opt/fonts/PTS75F_W.ttf->/usr/share/fonts/truetype/paratype/PTS75F.ttf' \
    ./usr/share/doc/ampctl-unit/copyright ./usr/share/doc/ampctl-unit/changelog.Debian.gz; do
    grep -qxF "$f" "$work/files" || fail "package lacks $f"
done
grep -E '/(s?bin)/ampctl$' "$work/files" && fail "a program named ampctl on the command path"
grep -q '^\./opt/set' "$work/files" && fail "the package ships files under /opt/set"

# The programs are 32-bit ARM.
dpkg-deb -x "$deb" "$work/tree"
for p in opt/IxoMav/ampctl usr/bin/my_temp; do
    arm-linux-gnueabihf-readelf -h "$work/tree/$p" > "$work/elf" 2>&1 || fail "$p is no ELF file"
    grep -q 'Class:.*ELF32' "$work/elf" && grep -q 'Machine:.*ARM' "$work/elf" || fail "$p is not 32-bit ARM"
done

# Control fields: library dependencies computed from the programs, the fonts named.
depends="$(dpkg-deb -f "$deb" Depends)"
for d in 'libc6 (>= ' 'libstdc++6 (>= ' 'libpng16-16' 'libfreetype6' fonts-dejavu-core fonts-dejavu-extra fonts-paratype; do
    case "$depends" in *"$d"*) ;; *) fail "Depends lacks $d: $depends" ;; esac
done
[ "$(dpkg-deb -f "$deb" Architecture)" = armhf ] || fail "Architecture is not armhf"
[ "$(dpkg-deb -f "$deb" Package)" = ampctl-unit ] || fail "Package is not ampctl-unit"

# The service.
unit="$work/tree/lib/systemd/system/ampctl-unit.service"
for line in 'After=local-fs.target' 'WorkingDirectory=/opt/IxoMav' 'ExecStart=/opt/IxoMav/ampctl' \
    'Restart=on-failure' 'KillSignal=SIGTERM' 'KillMode=mixed' 'WantedBy=multi-user.target'; do
    grep -qxF "$line" "$unit" || fail "service lacks $line"
done
timeout="$(sed -n 's/^TimeoutStopSec=//p' "$unit")"
[ -n "$timeout" ] && [ "$timeout" -ge 30 ] || fail "TimeoutStopSec missing or under 30 s: $timeout"

# Lint.
lintian --fail-on error "$deb" > "$work/lintian" 2>&1 || { cat "$work/lintian"; fail "lintian reports errors"; }
grep '^E:' "$work/lintian" && fail "lintian errors"

# Install beside a package owning /usr/bin/ampctl, keep the settings over an upgrade and a purge.
root="$work/root"
mkdir -p "$root/var/lib/dpkg/info" "$root/var/lib/dpkg/updates" "$root/opt/set"
: > "$root/var/lib/dpkg/status"
: > "$root/var/lib/dpkg/available"
printf 'LinPort: /dev/ttyAMA0\nEnableKeyb: 1\n' > "$root/opt/set/setup.txt"
cp "$root/opt/set/setup.txt" "$work/setup.before"
dpkg --root="$root" --add-architecture armhf
mkdir -p "$work/hamlib/DEBIAN" "$work/hamlib/usr/bin"
printf '#!/bin/sh\necho hamlib\n' > "$work/hamlib/usr/bin/ampctl"
chmod 0755 "$work/hamlib/usr/bin/ampctl"
printf 'Package: hamlib-standin\nVersion: 1\nArchitecture: all\nMaintainer: test <test@invalid>\nDescription: owns /usr/bin/ampctl\n' \
    > "$work/hamlib/DEBIAN/control"
dpkg-deb --root-owner-group --build "$work/hamlib" "$work/hamlib.deb" >/dev/null
install_deb() {
    dpkg --root="$root" --force-script-chrootless --force-depends --force-not-root -i "$1" > "$work/dpkg.log" 2>&1 ||
        { cat "$work/dpkg.log"; return 1; }
}
check "hamlib stand-in installs" install_deb "$work/hamlib.deb"
check "package installs beside /usr/bin/ampctl" install_deb "$deb"
[ -x "$root/opt/IxoMav/ampctl" ] || fail "/opt/IxoMav/ampctl not installed"
[ "$(cat "$root/usr/bin/ampctl")" = "$(printf '#!/bin/sh\necho hamlib')" ] || fail "/usr/bin/ampctl was changed"
cmp -s "$work/setup.before" "$root/opt/set/setup.txt" || fail "install changed /opt/set/setup.txt"

# An upgrade to a later version of the same files.
dpkg-deb -R "$deb" "$work/next"
sed -i 's/^Version: .*/Version: 99:1-1/' "$work/next/DEBIAN/control"
dpkg-deb --root-owner-group --build "$work/next" "$work/next.deb" >/dev/null
printf 'TuneTarget: 120\n' >> "$root/opt/set/setup.txt"
cp "$root/opt/set/setup.txt" "$work/setup.before"
check "upgrade installs" install_deb "$work/next.deb"
grep -q "^Version: 99:1-1" "$root/var/lib/dpkg/status" || fail "upgrade not recorded"
cmp -s "$work/setup.before" "$root/opt/set/setup.txt" || fail "upgrade changed /opt/set/setup.txt"

dpkg --root="$root" --force-script-chrootless --force-not-root --purge ampctl-unit > "$work/dpkg.log" 2>&1 ||
    { cat "$work/dpkg.log"; fail "purge failed"; }
[ -e "$root/opt/IxoMav/ampctl" ] && fail "purge left /opt/IxoMav/ampctl"
cmp -s "$work/setup.before" "$root/opt/set/setup.txt" || fail "purge changed or removed /opt/set/setup.txt"
[ -x "$root/usr/bin/ampctl" ] || fail "purge removed Hamlib's /usr/bin/ampctl"

if [ "$failures" -gt 0 ]; then
    echo "package test: $failures failures ($deb)"
    exit 1
fi
echo "package test: $(basename "$deb") passed"
