#!/bin/sh
# Installs the Debian packages ampctl needs to build, run on the simulated unit and test.
# Only missing packages are fetched, so a second run costs nothing.
set -e
PACKAGES="g++ cmake ninja-build pkg-config clang \
  libpng-dev libfreetype-dev libusb-1.0-0-dev libfftw3-dev libasound2-dev libasound2-plugins libopus-dev \
  libssl-dev libglib2.0-dev libturbojpeg0-dev fonts-dejavu-core fonts-paratype \
  libgtest-dev libgmock-dev libbenchmark-dev libhamlib-utils \
  libcpp-httplib-dev chromium python3 python3-websockets"
missing=""
for p in $PACKAGES; do
  dpkg -s "$p" >/dev/null 2>&1 || missing="$missing $p"
done
[ -z "$missing" ] && exit 0
echo "installing:$missing"
if [ "$(id -u)" -ne 0 ]; then SUDO=sudo; else SUDO=; fi
$SUDO apt-get update -qq
DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq $missing >/dev/null
