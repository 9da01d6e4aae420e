#!/bin/sh
# Packages an armhf build folder (tools/build-unit.sh) as ampctl-unit_<version>_armhf.deb in
# that folder, with dpkg-deb and Debian's conventions:
#   /opt/IxoMav/ampctl and the screen pictures  the controller in its working directory (not
#                                              on PATH: /usr/bin/ampctl is Hamlib's tool)
#   /opt/fonts/PTS55F_W.ttf, PTS75F_W.ttf      links to fonts-paratype's files
#   /usr/bin/my_temp                           the processor temperature helper, on PATH
#                                              (manual page my_temp(1))
#   /lib/systemd/system/ampctl-unit.service    started at boot, stopped by SIGTERM
# Nothing under /opt/set: the unit's settings are never written by the package. The library
# dependencies come from the binaries (dpkg-shlibdeps), the fonts are named.
# Usage: packaging/make-deb.sh BUILD_DIR VERSION
set -e
OUT="$(cd "$1" && pwd)"
VERSION="$2"
PKG=ampctl-unit
HERE="$(cd "$(dirname "$0")" && pwd)"
MAINTAINER="${AMPCTL_MAINTAINER:-$(git config user.name 2>/dev/null || echo ampctl developers) <$(git config user.email 2>/dev/null || echo ampctl@invalid)>}"
STAGE="$OUT/deb/$PKG"
DEB="$OUT/${PKG}_${VERSION}_armhf.deb"

rm -rf "$OUT/deb"
mkdir -p "$STAGE/DEBIAN" "$STAGE/opt/IxoMav" "$STAGE/opt/fonts" "$STAGE/usr/bin" \
    "$STAGE/lib/systemd/system" "$STAGE/usr/share/doc/$PKG" "$STAGE/usr/share/lintian/overrides" \
    "$STAGE/usr/share/man/man1"
strip_to() {
    arm-linux-gnueabihf-strip --remove-section=.comment --remove-section=.note --strip-unneeded -o "$2" "$1"
    chmod 0755 "$2"
}
strip_to "$OUT/ampctl" "$STAGE/opt/IxoMav/ampctl"
strip_to "$OUT/my_temp" "$STAGE/usr/bin/my_temp"
install -m 0644 "$OUT"/pictures/*.png "$STAGE/opt/IxoMav/"
ln -s /usr/share/fonts/truetype/paratype/PTS55F.ttf "$STAGE/opt/fonts/PTS55F_W.ttf"
ln -s /usr/share/fonts/truetype/paratype/PTS75F.ttf "$STAGE/opt/fonts/PTS75F_W.ttf"
install -m 0644 "$HERE/ampctl-unit.service" "$STAGE/lib/systemd/system/"
install -m 0644 "$HERE/copyright" "$STAGE/usr/share/doc/$PKG/copyright"
gzip -9n < "$HERE/my_temp.1" > "$STAGE/usr/share/man/man1/my_temp.1.gz"
chmod 0644 "$STAGE/usr/share/man/man1/my_temp.1.gz"
install -m 0644 "$HERE/lintian-overrides" "$STAGE/usr/share/lintian/overrides/$PKG"
for script in postinst prerm postrm; do
    install -m 0755 "$HERE/$script" "$STAGE/DEBIAN/$script"
done
# A one-entry changelog naming the commit the package was built from.
{
    printf '%s (%s) unstable; urgency=medium\n\n' "$PKG" "$VERSION"
    printf '  * Built from %s.\n\n' "$(git -C "$HERE" rev-parse --short HEAD 2>/dev/null || echo 'a source tree')"
    printf ' -- %s  %s\n' "$MAINTAINER" "$(date -R -u -d "@${SOURCE_DATE_EPOCH:-$(date +%s)}")"
} | gzip -9n > "$STAGE/usr/share/doc/$PKG/changelog.Debian.gz"
chmod 0644 "$STAGE/usr/share/doc/$PKG/changelog.Debian.gz"

# Library dependencies of the two programs, computed for armhf.
mkdir -p "$OUT/deb/src/debian"
printf 'Source: %s\n\nPackage: %s\nArchitecture: armhf\n' "$PKG" "$PKG" > "$OUT/deb/src/debian/control"
shlibs="$(cd "$OUT/deb/src" && DEB_HOST_ARCH=armhf dpkg-shlibdeps -O "$STAGE/opt/IxoMav/ampctl" "$STAGE/usr/bin/my_temp" \
    | sed -n 's/^shlibs:Depends=//p')"
[ -n "$shlibs" ] || { echo "make-deb: no library dependencies found" >&2; exit 1; }

size="$(du -sk --exclude=DEBIAN "$STAGE" | cut -f1)"
cat > "$STAGE/DEBIAN/control" <<CONTROL
Package: $PKG
Version: $VERSION
Architecture: armhf
Maintainer: $MAINTAINER
Installed-Size: $size
Depends: $shlibs, fonts-dejavu-core, fonts-dejavu-extra, fonts-paratype
Recommends: fbgrab, ifupdown, net-tools, sudo, usbutils
Section: hamradio
Priority: optional
Description: controller of the HF linear amplifier with automatic antenna tuner
 The program that runs on the amplifier's own board: it drives the amplifier
 board over its serial link, protects it, tunes the antenna, draws the front
 panel on the framebuffer and serves the remote peer. Started at boot by the
 ampctl-unit service from /opt/IxoMav; its settings live in /opt/set.
 .
 The program is not put on the command path: /usr/bin/ampctl belongs to
 Hamlib's amplifier control tool (libhamlib-utils), which installs beside it.
CONTROL
# Files owned by root whoever builds.
dpkg-deb --root-owner-group -Zxz --build "$STAGE" "$DEB" >/dev/null
echo "$DEB"
