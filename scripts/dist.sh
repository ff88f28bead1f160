#!/usr/bin/env bash
# The release: builds Corvane from a clean build folder and writes into dist/
#   Corvane-<version>-win32.zip   the portable copy
#   Corvane-<version>-setup.exe   the installer (installer/corvane.nsi, made with makensis)
#   Corvane-<version>-x86.msi     the Windows Installer package (installer/corvane.wxs, made
#                                 with wixl by scripts/msi.sh)
#   SHA256SUMS                    the three files' SHA-256 sums, as sha256sum -c reads them
# The version is the one the build declares (project(... VERSION) in CMakeLists.txt), read back
# from the header the build generates from it. DIST_BUILD names the build folder
# (default build-dist/release); it is emptied first. DIST_SOURCE=<commit> builds that commit of
# the repository instead of the working tree (e.g. DIST_SOURCE=HEAD: only what is committed).
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
root=$(cd "$here/.." && pwd)
cd "$root"

fail() {
    echo "dist: $*" >&2
    exit 1
}

bash "$here/install-deps.sh"

build=$(readlink -m "${DIST_BUILD:-build-dist/release}")
out="$root/dist"

rm -rf "$build"
source="$root"
if [ -n "${DIST_SOURCE:-}" ]; then
    source="$build/source"
    mkdir -p "$source"
    git archive "$DIST_SOURCE" | tar -x -C "$source" || fail "cannot export $DIST_SOURCE"
fi

# Clean, without the tests, in the configuration 'make test' tests (MinSizeRel: size-optimised,
# stripped, each program's symbols kept beside it in the build folder as <file>.debug). The
# release holds only the programs. No link time stamp in the images, so that one source tree
# gives the same binaries on every build (and so the same symbols files, from the same commit).
stampless=-Wl,--no-insert-timestamp
cmake -S "$source" -B "$build" -G Ninja -DCMAKE_TOOLCHAIN_FILE="$source/cmake/mingw-i686.cmake" \
    -DCMAKE_BUILD_TYPE=MinSizeRel -DCORVANE_TESTS=OFF \
    -DCMAKE_EXE_LINKER_FLAGS="$stampless" -DCMAKE_SHARED_LINKER_FLAGS="$stampless" >/dev/null
# Only the programs that ship: a benchmark or test that does not build must not stop a release.
cmake --build "$build" --target Corvane corvane-cli CorvaneTLInfo corvane-reader ||
    fail "building Corvane.exe, corvane-cli.exe, CorvaneTLInfo.dll and corvane-reader.exe failed"

version=$(sed -n 's/^#define CORVANE_VERSION_TEXT "\(.*\)"$/\1/p' "$build/generated/version.h")
[[ "$version" =~ ^[0-9]+\.[0-9]+\.[0-9]+$ ]] ||
    fail "no x.y.z version in $build/generated/version.h (got '$version')"

programs=(Corvane.exe corvane-cli.exe CorvaneTLInfo.dll corvane-reader.exe)
for f in "${programs[@]}"; do
    [ -f "$build/bin/$f" ] || fail "$f was not built (expected $build/bin/$f); the release needs all of: ${programs[*]}"
done

# Only our own binaries travel: each must be a 32-bit image that imports Windows system DLLs
# alone, never a MinGW runtime DLL (libgcc, libstdc++, libwinpthread) or anything of Wine's.
bash "$here/check-imports.sh" "${programs[@]/#/$build/bin/}"

# The staged folder is exactly what the zip holds and what the installers install.
name="Corvane-$version"
stage="$build/stage/$name"
mkdir -p "$stage"
for f in "${programs[@]}"; do cp "$build/bin/$f" "$stage/"; done
# Text files with Windows line ends, so that Notepad on any Windows shows them as lines.
sed 's/\r*$/\r/' "$source/installer/README.txt" >"$stage/README.txt"
sed 's/\r*$/\r/' "$source/LICENSE" >"$stage/LICENSE.txt"

# A reproducible archive: fixed order, no extra attributes, and every time stamp the last
# commit's, so that one source tree gives one zip.
stamp=$(git log -1 --format=%ct "${DIST_SOURCE:-HEAD}" 2>/dev/null || echo 1767225600)
touch -d "@$stamp" "$stage" "$stage"/*
mkdir -p "$out"
zipfile="$out/$name-win32.zip"
setup="$out/$name-setup.exe"
msi="$out/$name-x86.msi"
sums="$out/SHA256SUMS"
rm -f "$zipfile" "$setup" "$msi" "$sums"
(cd "$build/stage" && TZ=UTC zip -q -X -D "$zipfile" \
    "$name/Corvane.exe" "$name/corvane-cli.exe" "$name/CorvaneTLInfo.dll" "$name/corvane-reader.exe" \
    "$name/README.txt" "$name/LICENSE.txt")

source "$build/generated/ids.sh"
makensis -V2 -DVERSION="$version" -DSTAGE="$stage" -DOUTFILE="$setup" -DCLSID_TLINFO="$tlinfo_clsid" \
    "$source/installer/corvane.nsi" ||
    fail "makensis failed on $source/installer/corvane.nsi"
[ -f "$setup" ] || fail "makensis wrote no $setup"

bash "$source/scripts/msi.sh" "$stage" "$build" "$version" "$msi" || fail "building $msi failed"
[ -f "$msi" ] || fail "scripts/msi.sh wrote no $msi"

# Bare file names, so that 'sha256sum -c SHA256SUMS' checks them in the folder they were
# downloaded into.
(cd "$out" && sha256sum "${zipfile##*/}" "${setup##*/}" "${msi##*/}" >"$sums.new" && mv "$sums.new" "$sums") ||
    fail "writing $sums failed"

echo "Corvane $version:"
for f in "$zipfile" "$setup" "$msi"; do
    printf '  %-50s %9d bytes  sha256 %s\n' "${f#"$root"/}" "$(stat -c %s "$f")" \
        "$(sha256sum "$f" | cut -d' ' -f1)"
done
echo "  ${sums#"$root"/}"
