#!/bin/sh
# Installs the Debian packages ampctl needs to build, run on the simulated unit and test,
# and to cross-build the unit's armhf package (tools/build-unit.sh) and test it under
# qemu-user: the cross toolchain and the armhf -dev packages of every library, through
# multiarch. Only missing packages are fetched, so a second run costs nothing.
set -e
PACKAGES="g++ cmake ninja-build pkg-config clang \
  libpng-dev libfreetype-dev libusb-1.0-0-dev libfftw3-dev libasound2-dev libasound2-plugins libopus-dev \
  libssl-dev libglib2.0-dev libturbojpeg0-dev fonts-dejavu-core fonts-dejavu-extra fonts-paratype \
  libgtest-dev libgmock-dev libbenchmark-dev libhamlib-utils \
  libcpp-httplib-dev chromium python3 python3-websockets"
# The unit's build: toolchain, emulator, packaging tools, and the libraries for armhf (the
# controller's, FFTW's, and GoogleTest for the emulated tests).
PACKAGES="$PACKAGES crossbuild-essential-armhf qemu-user-static dpkg-dev lintian \
  libstdc++6:armhf libpng-dev:armhf libfreetype-dev:armhf libusb-1.0-0-dev:armhf \
  libasound2-dev:armhf libopus-dev:armhf libssl-dev:armhf libglib2.0-dev:armhf \
  libturbojpeg0-dev:armhf libfftw3-dev:armhf libgtest-dev:armhf libgmock-dev:armhf"
# Installed for the named architecture (the machine's own when none is named), or for all:
# with armhf added, a bare name can stand for two installed instances.
native="$(dpkg --print-architecture)"
installed() {
  case "$1" in
    *:*) name="${1%%:*}" want="${1##*:}" ;;
    *) name="$1" want="$native" ;;
  esac
  dpkg-query -W -f='${Architecture} ${db:Status-Abbrev}\n' "$name" 2>/dev/null | grep -qE "^($want|all) ii"
}
missing=""
for p in $PACKAGES; do
  installed "$p" || missing="$missing $p"
done
[ -z "$missing" ] && exit 0
echo "installing:$missing"
if [ "$(id -u)" -ne 0 ]; then SUDO=sudo; else SUDO=; fi
if ! dpkg --print-foreign-architectures | grep -qx armhf; then
  $SUDO dpkg --add-architecture armhf
fi
$SUDO apt-get update -qq
DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq $missing >/dev/null
