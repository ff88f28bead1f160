#!/usr/bin/env bash
# The .reg file of a captured registration, imported with regedit into a fresh prefix, adds
# exactly what a real registration of the same library adds in another fresh prefix: the same
# lines in `reg query HKCR /s` and nothing under HKCU\Software. scripts/test.sh runs it after
# ctest (see there why not inside it); it needs the build's binaries and no display.
#
# An MSI built by wixl from the WiX fragment must install into a fresh prefix the TypeLib and
# Interface keys that registering the installed file adds, and msiexec /x must remove them all.
#
# With --in-this-prefix it runs in the 64-bit prefix whose session is running (scripts/test.sh
# makes one per run): there the .reg file is exported for 64-bit Windows and imported with the
# 64-bit regedit, and the lines compared are those of both registry views. Instead of a second
# fresh prefix, the registration is removed again and the registry must then be as it was, so
# that the import starts from the same fresh state.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
build=$(readlink -f "${1:-build}")
in_this_prefix=$([ "${2:-}" = --in-this-prefix ] && echo 1 || echo 0)
suffix=$([ $in_this_prefix = 1 ] && echo 64 || true)
work="$build/capture-import$suffix"
rm -rf "$work"
mkdir -p "$work"

# Creates a fresh prefix named $1 under $work and makes it the one Wine uses from now on.
use_fresh_prefix() {
    export CORVANE_PREFIX="$work/$1"
    FRESH=1 "$here/make-prefix.sh" "$build/bin/CorvaneTLInfo.dll" >/dev/null
    source "$here/wine-env.sh"
    # One wineserver for the prefix's whole use, as in the test session.
    timeout 30 wineserver -w || true
    wineserver -p
}

end_prefix() {
    timeout 30 wineserver -k 2>/dev/null || true
}
# The two prefixes take over a gigabyte; the snapshots and the .reg file stay for a look.
clean_up() {
    end_prefix
    rm -rf "$work/registered" "$work/imported" "$work/installed"
}
trap clean_up EXIT

# What snapshot reads (both views of HKCR in the 64-bit prefix); for the MSI, two branches alone.
branches=('HKCR' 'HKCU\Software')
snapshot() {
    local wine=$([ $in_this_prefix = 1 ] && echo "$WINE64" || echo wine)
    for key in "${branches[@]}"; do
        if [ $in_this_prefix = 1 ] && [[ $key == HKCR* ]]; then
            for view in 64 32; do timeout 120 "$wine" reg query "$key" /s /reg:$view; done
        else
            timeout 120 "$wine" reg query "$key" /s
        fi
    done 2>/dev/null | tr -d '\r'
}

# The lines that the function named $1 (with its arguments) adds to or removes from the current prefix's registry.
changes_made_by() {
    snapshot >"$work/before.txt"
    "$@" </dev/null >/dev/null
    snapshot >"$work/after.txt"
    diff "$work/before.txt" "$work/after.txt" | grep '^[<>]' || true
}

register_library() {
    timeout 60 wine "$build/bin/corvane-cli.exe" register "$library"
}

import_capture() {
    timeout 60 wine "$build/bin/corvane-cli.exe" export "$library" -o "$regfile"
    timeout 60 wine regedit /s "$regfile"
}

unregister_library() {
    timeout 60 wine "$build/bin/corvane-cli.exe" unregister "$library" </dev/null >/dev/null
}

import_capture64() {
    timeout 60 wine "$build/bin/corvane-cli.exe" export "$library" --bitness 64 -o "$regfile"
    timeout 60 "$WINE64" regedit /s "$regfile"
}

msi_folder='Corvane export check'
# A product installing the fragment for $1-bit Windows (x64 package for the 64-bit component).
build_msi() {
    local arch group
    arch=$([ "$1" = 64 ] && echo x64 || echo x86)
    timeout 60 wine "$build/bin/corvane-cli.exe" export "$library" --format wxs --bitness "$1" \
        -o "$(timeout 10 winepath -w "$work/fragment.wxs")" >/dev/null
    group=$(grep -o 'ComponentGroup Id="[^"]*"' "$work/fragment.wxs" | cut -d'"' -f2)
    cat >"$work/product.wxs" <<WXS
<Wix xmlns="http://schemas.microsoft.com/wix/2006/wi"><Product Id="*" Name="$msi_folder" Language="1033"
    Version="1.0.0" Manufacturer="Corvane tests" UpgradeCode="{5E0C7A51-3D43-4E5B-9A43-6C1C0E0D1A20}">
  <Package Compressed="yes" /><Media Id="1" Cabinet="product.cab" EmbedCab="yes" />
  <Directory Id="TARGETDIR" Name="SourceDir"><Directory Id="ProgramFilesFolder">
    <Directory Id="INSTALLFOLDER" Name="$msi_folder" /></Directory></Directory>
  <Feature Id="Library" Level="1"><ComponentGroupRef Id="$group" /></Feature>
</Product></Wix>
WXS
    # wixl finds the File's Source, the library's bare name, in the folder it runs in.
    (cd "$(dirname "$(readlink -f "$build/bin/capturelib.tlb")")" &&
        wixl -a "$arch" -o "$work/product.msi" "$work/product.wxs" "$work/fragment.wxs")
}
msiexec_product() { timeout 120 wine msiexec "$1" "$(timeout 10 winepath -w "$work/product.msi")" /qn; }
# What the MSI adds, and the branches before its install and after its removal.
install_and_remove_msi() {
    snapshot >"$work/msi-before.txt"
    msi_installed=$(changes_made_by msiexec_product /i)
    msiexec_product /x </dev/null >/dev/null
    snapshot >"$work/msi-removed.txt"
}
# The library where the MSI puts it, registered from there: what the MSI must write.
installed_copy() {
    local folder="$(timeout 10 winepath -u "$1")/$msi_folder"
    mkdir -p "$folder" && cp "$build/bin/capturelib.tlb" "$folder/"
    installed_library="$(timeout 10 winepath -w "$folder")\capturelib.tlb"
}
register_installed() { timeout 60 wine "$build/bin/corvane-cli.exe" register "$installed_library"; }
# The one difference allowed: the MSI's HELPDIR ([INSTALLFOLDER]) ends in a backslash.
without_helpdir_backslash() {
    awk '/\\HELPDIR$/ { print; helpdir = 1; next } helpdir && /\(Default\)/ { sub(/\\$/, "") } { helpdir = 0; print }'
}
check_msi() {
    without_helpdir_backslash <<<"$msi_installed" >"$work/msi-installed.txt"
    if [ -z "$msi_registered" ] || [ "$msi_registered" != "$(cat "$work/msi-installed.txt")" ]; then
        echo "FAIL: the MSI built from the WiX fragment installs other keys than registering writes:"
        diff <(echo "$msi_registered") "$work/msi-installed.txt" || true
        exit 1
    fi
    cmp -s "$work/msi-before.txt" "$work/msi-removed.txt" || {
        echo "FAIL: uninstalling the MSI left keys behind:"; diff "$work/msi-before.txt" "$work/msi-removed.txt"; exit 1; }
    echo "PASS: the MSI built from the WiX fragment installs the same $(wc -l <<<"$msi_registered") lines as registering, and uninstalling removes them$([ $in_this_prefix = 1 ] && echo ' (64-bit prefix, both views)' || true)"
}

if [ $in_this_prefix = 1 ]; then
    trap - EXIT
    source "$here/wine-env.sh"
    library=$(timeout 10 winepath -w "$build/bin/capturelib.tlb")
    regfile=$(timeout 10 winepath -w "$work/capture.reg")
    snapshot >"$work/fresh.txt"
    registered=$(changes_made_by register_library)
    unregister_library
    snapshot >"$work/removed.txt"
    if ! cmp -s "$work/fresh.txt" "$work/removed.txt"; then
        echo "FAIL: unregistering did not give back the fresh registry:"
        diff "$work/fresh.txt" "$work/removed.txt" | grep '^[<>]' | head -20
        exit 1
    fi
    imported=$(changes_made_by import_capture64)
    unregister_library

    branches=('HKCR\TypeLib' 'HKCR\Interface')
    # Exporting leaves both views as they were (see "As a manifest" in docs/design.md).
    left=$(changes_made_by build_msi 64)
    [ -z "$left" ] || { echo "FAIL: exporting changed the registry:"; echo "$left" | head -20; exit 1; }
    installed_copy 'C:\Program Files (x86)'
    msi_registered=$(changes_made_by register_installed)
    timeout 60 wine "$build/bin/corvane-cli.exe" unregister "$installed_library" </dev/null >/dev/null &&
        rm -rf "$(timeout 10 winepath -u 'C:\Program Files (x86)')/$msi_folder"
    install_and_remove_msi
else
    use_fresh_prefix registered
    library=$(timeout 10 winepath -w "$build/bin/capturelib.tlb")
    registered=$(changes_made_by register_library)
    # What the MSI must write: the library registered from where the MSI installs it.
    unregister_library
    branches=('HKCR\TypeLib' 'HKCR\Interface')
    installed_copy 'C:\Program Files'
    msi_registered=$(changes_made_by register_installed)
    branches=('HKCR' 'HKCU\Software')
    end_prefix

    use_fresh_prefix imported
    regfile=$(timeout 10 winepath -w "$work/capture.reg")
    imported=$(changes_made_by import_capture)
    end_prefix

    use_fresh_prefix installed
    build_msi 32
    branches=('HKCR\TypeLib' 'HKCR\Interface')
    install_and_remove_msi; end_prefix
fi

if [ -z "$registered" ] || ! grep -q 'Interface' <<<"$registered"; then
    echo "FAIL: registration added no Interface keys:"
    echo "$registered"
    exit 1
fi
if [ "$registered" != "$imported" ]; then
    echo "FAIL: importing the captured .reg file differs from registering:"
    diff <(echo "$registered") <(echo "$imported") || true
    exit 1
fi
echo "PASS: the imported .reg file adds the same $(wc -l <<<"$registered") lines as registering$([ $in_this_prefix = 1 ] && echo ' (64-bit prefix, both views)' || true)"
check_msi
