#!/bin/sh
# Builds the unit's software for its armhf board on this machine and packages it:
#   build-armhf/ampctl, build-armhf/my_temp, build-armhf/pictures/*.png,
#   build-armhf/ampctl_unit_tests (run under qemu-user by ./test, label armhf) and
#   build-armhf/ampctl-unit_<version>_armhf.deb (lintian clean of errors).
# Needs the cross toolchain and the armhf libraries (tools/install-deps.sh installs them).
# Options: --no-deb builds the programs and the tests only; --no-tests leaves the test
# program out. The package version is AMPCTL_VERSION when set, else one made from the last
# commit's time and hash (0~gitYYYYMMDDhhmmss.<hash>-1), so a newer commit upgrades.
set -e
cd "$(dirname "$0")/.."
SRC="$PWD"
OUT="$SRC/build-armhf"
deb=1
tests=ON
for arg in "$@"; do
    case "$arg" in
    --no-deb) deb=0 ;;
    --no-tests) tests=OFF ;;
    *) echo "usage: $0 [--no-deb] [--no-tests]" >&2; exit 2 ;;
    esac
done
for tool in arm-linux-gnueabihf-g++ qemu-arm-static dpkg-buildflags; do
    command -v "$tool" >/dev/null || { echo "build-unit: $tool missing: run tools/install-deps.sh" >&2; exit 1; }
done

# Debian's build flags for armhf (hardening, optimisation), without debug information: the
# package ships stripped programs and the emulated tests gain nothing from it.
export DEB_HOST_ARCH=armhf DEB_BUILD_MAINT_OPTIONS=hardening=+all
CXXFLAGS="$(dpkg-buildflags --get CPPFLAGS) $(dpkg-buildflags --get CXXFLAGS | sed 's/\(^\| \)-g\( \|$\)/ /')"
LDFLAGS="$(dpkg-buildflags --get LDFLAGS)"
cmake -S . -B "$OUT" -G Ninja -DCMAKE_TOOLCHAIN_FILE="$SRC/cmake/armhf-toolchain.cmake" \
    -DCMAKE_BUILD_TYPE=None -DCMAKE_CXX_FLAGS="$CXXFLAGS" -DCMAKE_EXE_LINKER_FLAGS="$LDFLAGS" \
    -DAMPCTL_UNIT_TESTS="$tests" >/dev/null
targets="ampctl my_temp pictures"
[ "$tests" = ON ] && targets="$targets ampctl_unit_tests"
nice cmake --build "$OUT" --target $targets

[ "$deb" = 1 ] || exit 0
version="${AMPCTL_VERSION:-}"
if [ -z "$version" ]; then
    stamp="$(git log -1 --format=%cd --date=format:%Y%m%d%H%M%S 2>/dev/null || date -u +%Y%m%d%H%M%S)"
    hash="$(git rev-parse --short HEAD 2>/dev/null || echo local)"
    version="0~git$stamp.$hash-1"
fi
exec "$SRC/packaging/make-deb.sh" "$OUT" "$version"
