#!/usr/bin/env bash
# An MSI built by wixl from the WiX fragment of `export --format wxs` must install into a fresh
# prefix the TypeLib and Interface keys that registering the installed file adds in another
# fresh prefix, and msiexec /x must remove them all. scripts/test.sh runs it after ctest, beside
# scripts/test-reg-import.sh; it needs the build's binaries and no display.
#
# With --in-this-prefix it runs in the 64-bit prefix whose session is running (scripts/test.sh
# makes one per run): there the fragment is exported for 64-bit Windows and installed from an x64
# package, and the lines compared are those of both registry views. Instead of a second fresh
# prefix, the installed file is registered and unregistered again before the MSI installs it.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
work_name=msi-export
fresh_prefixes=(registered installed)
source "$here/registry-changes.sh"

# An install touches these branches alone.
branches=('HKCR\TypeLib' 'HKCR\Interface')

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
    snapshot "$work/msi-before.txt"
    msi_installed=$(changes_made_by msiexec_product /i)
    msiexec_product /x </dev/null >/dev/null
    snapshot "$work/msi-removed.txt"
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

if [ $in_this_prefix = 1 ]; then
    name_library
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
    name_library
    installed_copy 'C:\Program Files'
    msi_registered=$(changes_made_by register_installed)
    end_prefix

    use_fresh_prefix installed
    build_msi 32
    install_and_remove_msi
    end_prefix
fi

without_helpdir_backslash <<<"$msi_installed" >"$work/msi-installed.txt"
if [ -z "$msi_registered" ] || [ "$msi_registered" != "$(cat "$work/msi-installed.txt")" ]; then
    echo "FAIL: the MSI built from the WiX fragment installs other keys than registering writes:"
    diff <(echo "$msi_registered") "$work/msi-installed.txt" || true
    exit 1
fi
cmp -s "$work/msi-before.txt" "$work/msi-removed.txt" || {
    echo "FAIL: uninstalling the MSI left keys behind:"
    diff "$work/msi-before.txt" "$work/msi-removed.txt"
    exit 1
}
echo "PASS: the MSI built from the WiX fragment installs the same $(wc -l <<<"$msi_registered") lines as registering, and uninstalling removes them$(where)"
