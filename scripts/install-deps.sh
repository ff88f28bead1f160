#!/usr/bin/env bash
# Installs what building and testing need, only where it is missing (Debian 12, as root or
# through sudo). Quiet and quick when everything is already there.
set -euo pipefail

need=()
have_cmd() { command -v "$1" >/dev/null 2>&1; }
have_pkg() { dpkg-query -W -f='${Status}' "$1" 2>/dev/null | grep -q "install ok installed"; }

# The compiler with the win32 thread model: its runtime needs nothing but Windows itself (the
# posix model links winpthread into every program).
have_cmd i686-w64-mingw32-g++-win32 || need+=(g++-mingw-w64-i686-win32)
have_cmd i686-w64-mingw32-widl || need+=(mingw-w64-tools)
have_cmd cmake || need+=(cmake)
have_cmd ninja || need+=(ninja-build)
have_cmd make || need+=(make)
have_cmd wine || need+=(wine)
have_pkg wine32:i386 || need+=(wine32:i386)
# The 64-bit loader and server: the tests of the 32-bit programs under WOW64 in a 64-bit prefix.
[ -x /usr/lib/wine/wine64 ] || need+=(wine64)
have_cmd Xvfb || need+=(xvfb)
have_cmd xdotool || need+=(xdotool)
have_cmd import || need+=(imagemagick)
have_cmd makensis || need+=(nsis)
have_cmd zip || need+=(zip)
# wixl builds an MSI from a WiX source (the release's package, the tests of export --format
# wxs); msitools reads MSIs, and its msibuild sets what wixl cannot write (scripts/msi.sh).
have_cmd wixl || need+=(wixl)
have_cmd msibuild || need+=(msitools)
[ -f /usr/src/googletest/CMakeLists.txt ] || need+=(googletest)
[ -f /usr/include/nlohmann/json.hpp ] || need+=(nlohmann-json3-dev)
# The layout of the C++ files is the formatter's (scripts/check-format.sh).
have_cmd clang-format || need+=(clang-format)

[ ${#need[@]} -eq 0 ] && exit 0

echo "Installing: ${need[*]}"
sudo=""
[ "$(id -u)" -eq 0 ] || sudo="sudo"
export DEBIAN_FRONTEND=noninteractive
if ! dpkg --print-foreign-architectures | grep -qx i386; then
    $sudo dpkg --add-architecture i386
fi
# A mirror in the middle of a sync fails an index now and then: try again. If an index is still
# missing (the i386 one of the security suite, say), the two architectures' lists disagree on
# versions and wine32:i386 cannot be installed beside its amd64 libraries; installing from the
# release itself, whose lists agree, still works.
updated=""
for attempt in 1 2 3; do
    if $sudo apt-get update -q; then updated=yes; break; fi
    echo "apt-get update failed (attempt $attempt of 3)"
    if [ "$attempt" -lt 3 ]; then sleep $((attempt * 15)); fi
done
release=()
if [ -z "$updated" ]; then
    codename=$(. /etc/os-release && echo "${VERSION_CODENAME:-}")
    [ -n "$codename" ] && release=(-o "APT::Default-Release=$codename")
    echo "install-deps: apt-get update failed 3 times (a mirror's index is broken or missing), so installing from ${codename:-the release}'s own package lists"
fi
$sudo apt-get install -y -q "${release[@]}" "${need[@]}" || {
    echo "install-deps: apt-get install failed (exit status $?); these packages are still missing: ${need[*]}" >&2
    exit 1
}
