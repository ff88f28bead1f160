#!/usr/bin/env bash
# The release end to end: builds dist/ (scripts/dist.sh), then in fresh Wine prefixes of its own
# installs the setup program and the MSI silently, uses the installed programs, uninstalls silently, and
# checks that the prefix's TypeLib and CLSID branches are as they were before.
#   clean:   no TypeLib Information server registered; the installer registers ours, the
#            uninstaller removes it again.
#   foreign: another server is registered for the class; it stays through install and
#            uninstall.
#   twice:   installing over an earlier install keeps the component ours, so that one
#            uninstall still removes everything.
#   wow64:   a 64-bit prefix, as 64-bit Windows: the 32-bit installer installs into Program
#            Files (x86) and registers the component's class in the 32-bit registry view only.
#   msi-*:   the four with the MSI, with repairs (msi-foreign's keeps the install's decision),
#            and msi-upgrade: over a lower version's package, which is then refused over it.
# Ends with "N passed, M failed" for the cases; exits non-zero when a case failed.
set -uo pipefail
here=$(cd "$(dirname "$0")" && pwd)
root=$(cd "$here/.." && pwd)
cd "$root"

work="$root/build-dist"
stdole2='C:\windows\system32\stdole2.tlb'
installed='C:\Program Files\Corvane'
shipped=(Corvane.exe corvane-cli.exe CorvaneTLInfo.dll corvane-reader.exe README.txt LICENSE.txt)

die() {
    echo "test-dist: $*" >&2
    exit 1
}

# ---- Build the release and the program that drives the installed Corvane -------------------

bash "$here/dist.sh" || die "make dist failed"
version=$(sed -n 's/^#define CORVANE_VERSION_TEXT "\(.*\)"$/\1/p' "$work/release/generated/version.h")
# The component's class id, as the build read it from the contract header.
source "$work/release/generated/ids.sh"
clsid="$tlinfo_clsid"
setup="$root/dist/Corvane-$version-setup.exe"
zipfile="$root/dist/Corvane-$version-win32.zip"
msi="$root/dist/Corvane-$version-x86.msi"
[ -f "$setup" ] && [ -f "$zipfile" ] && [ -f "$msi" ] || die "dist/ lacks the release files of version $version"

e2e="$work/e2e"
cmake -S . -B "$e2e" -G Ninja -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-i686.cmake -DCMAKE_BUILD_TYPE=MinSizeRel \
    >/dev/null || die "configuring $e2e failed"
cmake --build "$e2e" --target installed_tests system_manifest_tests registration_capturelib >/dev/null ||
    die "building installed_tests and system_manifest_tests failed"
driver_program="$e2e/bin/installed_tests.exe"
manifest_program="$e2e/bin/system_manifest_tests.exe"

# ---- Checks and cases --------------------------------------------------------------------------

passed=0
failed=0
summary=()
case_ok=1
ok() { echo "    ok    $*"; }
bad() {
    echo "    FAIL  $*"
    case_ok=0
}
# check DESCRIPTION COMMAND...: one check of the current case.
check() {
    local what=$1
    shift
    if "$@"; then ok "$what"; else bad "$what"; fi
}
begin_case() {
    echo
    echo "== ${kind_prefix:-}$1: $2"
    case_ok=1
    current_case=${kind_prefix:-}$1
}
end_case() {
    if [ "$case_ok" = 1 ]; then
        passed=$((passed + 1))
        summary+=("PASS  $current_case")
        # A passed case's prefix is of no further use; a failed one stays for a look.
        if [ -n "${CORVANE_PREFIX:-}" ] && [ "$CORVANE_PREFIX" = "$work/prefix-$current_case" ]; then
            timeout 30 wineserver -k 2>/dev/null
            rm -rf "$CORVANE_PREFIX"
        fi
    else
        failed=$((failed + 1))
        summary+=("FAIL  $current_case")
    fi
    timeout 30 wineserver -k 2>/dev/null
}

# The checks of the release files themselves count as a case too.
# Size targets in bytes (1 KB = 1,000 bytes); docs/performance.md records them and says what
# dominates each file. A file over its target fails the case.
declare -A size_target=([Corvane.exe]=275000 [CorvaneTLInfo.dll]=240000 [corvane-cli.exe]=560000
    [corvane-reader.exe]=230000 [zip]=530000 [msi]=560000)
within_size_targets() {
    local status=0 f size target
    for f in Corvane.exe CorvaneTLInfo.dll corvane-cli.exe corvane-reader.exe zip msi; do
        case $f in zip) size=$(stat -c %s "$zipfile") ;; msi) size=$(stat -c %s "$msi") ;; *) size=$(stat -c %s "$programs/$f") ;; esac
        target=${size_target[$f]}
        echo "          $f: $size bytes (target $target)$([ "$size" -le "$target" ] || echo ": over by $((size - target)) bytes")"
        [ "$size" -le "$target" ] || status=1
    done
    return $status
}
# The symbols stay in the build folder: a shipped program carries no .debug_* section.
no_debug_sections() {
    local f sections found=0
    for f in "$@"; do
        sections=$(i686-w64-mingw32-objdump -h "$f") || return 1
        if [[ "$sections" == *" .debug_"* ]]; then
            echo "          $(basename "$f") carries debug sections"
            found=1
        fi
    done
    [ $found = 0 ]
}
# The manifest test, run beside copies of the zip's programs instead of the build's.
zip_manifests() {
    local folder="$work/manifests"
    rm -rf "$folder"
    mkdir -p "$folder"
    cp "$programs/Corvane.exe" "$programs/corvane-cli.exe" "$manifest_program" "$folder/" || return 1
    w "$folder/$(basename "$manifest_program")" </dev/null 2>&1 | tr -d '\r' |
        grep -E 'FAILED|Failure|Expected|PASSED' | sed 's/^/          /'
    return "${PIPESTATUS[0]}"
}

begin_case archive "the zip holds exactly our files; our binaries import only system DLLs, carry no symbols, keep their sizes"
unpacked="$work/unpacked"
programs="$unpacked/Corvane-$version"
rm -rf "$unpacked"
mkdir -p "$unpacked"
check "the zip unpacks" unzip -q "$zipfile" -d "$unpacked"
expected_listing=$(printf "Corvane-$version/%s\n" "${shipped[@]}" | sort)
actual_listing=$(cd "$unpacked" && find . -type f | sed 's|^\./||' | sort)
check "the zip holds Corvane-$version/ with ${shipped[*]} and nothing else" \
    test "$expected_listing" = "$actual_listing"
check "the zip's binaries import only Windows system DLLs" bash "$here/check-imports.sh" "$programs"/*.exe "$programs"/*.dll
check "the setup program is a 32-bit image importing only system DLLs" bash "$here/check-imports.sh" "$setup"
check "the zip's binaries carry no debug sections" no_debug_sections "$programs"/*.exe "$programs"/*.dll
check "the programs, the zip and the MSI are within their size targets" within_size_targets
msi_property() { msiinfo export "$1" Property | tr -d '\r' | awk -F '\t' -v name="$2" '$1 == name { print $2 }'; }
check "the MSI holds the zip's files, as version $version" eval 'msiextract -C "$work/msi-files" "$msi" >/dev/null &&
    diff -r "$work/msi-files/Program Files/Corvane" "$programs" && [ "$(msi_property "$msi" ProductVersion)" = $version ]'
check "SHA256SUMS lists the three release files; sha256sum -c accepts them" eval '(cd "$root/dist" &&
    [ "$(cut -d" " -f3 SHA256SUMS | sort)" = "$(ls Corvane-"$version"-* | sort)" ] && sha256sum -c --quiet SHA256SUMS)'
end_case

# From here on every Wine call runs in the prefix of the current case. winemenubuilder stays
# off: a Start-menu shortcut must not turn into a menu entry of the machine running the test.
export WINEDLLOVERRIDES="mscoree,mshtml,winemenubuilder.exe="
source "$here/xvfb.sh"
cleanup() {
    [ -n "${WINEPREFIX:-}" ] && timeout 30 wineserver -k 2>/dev/null
    stop_xvfb
}
trap cleanup EXIT
start_xvfb

w() { timeout -k 5 "${WINE_TIMEOUT:-120}" wine "$@"; }
# Waits until every process of the prefix has ended: the uninstaller hands its work to a copy
# of itself in %TEMP% and returns at once.
settle() { timeout 120 wineserver -w; }

new_prefix() {
    export CORVANE_PREFIX="$work/prefix-${kind_prefix:-}$1"
    timeout 30 env WINEPREFIX="$CORVANE_PREFIX" wineserver -k 2>/dev/null
    rm -rf "$CORVANE_PREFIX"
    source "$here/wine-env.sh"
    mkdir -p "$CORVANE_PREFIX"
    boot_prefix >/dev/null 2>&1 </dev/null && settle && return
    # Once, under load, a 64-bit boot stopped early and left half a prefix: one more try afresh.
    echo "    (booting $CORVANE_PREFIX failed; trying once more)"
    timeout 30 wineserver -k 2>/dev/null
    rm -rf "$CORVANE_PREFIX" && mkdir -p "$CORVANE_PREFIX" && boot_prefix >/dev/null 2>&1 </dev/null && settle
}
unix_path() { timeout 30 winepath -u "$1" 2>/dev/null; }

# reg_value KEY [NAME]: the value's data ("" and status 1 when the key or value is missing).
reg_value() {
    local out
    if [ $# -ge 2 ]; then
        out=$(w reg query "$1" /v "$2" 2>/dev/null) || return 1
    else
        out=$(w reg query "$1" /ve 2>/dev/null) || return 1
    fi
    # "    NAME    REG_TYPE    DATA": the data is what follows the type.
    tr -d '\r' <<<"$out" | awk 'match($0, /    REG_[A-Z_]+    /) { print substr($0, RSTART + RLENGTH); exit }'
}
reg_absent() { ! w reg query "$1" >/dev/null 2>&1; }
value_is() {
    local actual
    actual=$(reg_value "${@:1:$#-1}")
    [ "$actual" = "${!#}" ] || {
        echo "          ${*:1:$#-1}: '$actual', expected '${!#}'"
        return 1
    }
}

# The branches an install must leave as it found them, merged view of machine and user.
export_branches() {
    local out=$1
    mkdir -p "$out"
    w reg export 'HKEY_CLASSES_ROOT\TypeLib' "$(timeout 30 winepath -w "$out/typelib.reg")" /y >/dev/null &&
        w reg export 'HKEY_CLASSES_ROOT\CLSID' "$(timeout 30 winepath -w "$out/clsid.reg")" /y >/dev/null
}
same_branches() {
    local status=0 f
    for f in typelib.reg clsid.reg; do
        if ! cmp -s "$1/$f" "$2/$f"; then
            echo "          $f differs:"
            diff <(iconv -f UTF-16 -t UTF-8 "$1/$f") <(iconv -f UTF-16 -t UTF-8 "$2/$f") | head -20 |
                sed 's/^/            /'
            status=1
        fi
    done
    return $status
}

# The installer the cases use: kind_prefix is "" for the setup program, "msi-" for the MSI.
# Wine hands on msiexec's exit code modulo 256 (1603, a failed install, arrives as 67).
msi_run() { timeout -k 5 180 "${msiexec_loader:-wine}" msiexec "$1" "$(timeout 30 winepath -w "$2")" "${@:3}" /qn; }
install() {
    if [ "$kind_prefix" = msi- ]; then msi_run /i "$msi"; else w "$setup" /S; fi
    local status=$?
    settle
    [ $status = 0 ] || echo "          ${kind_prefix}setup exited with $status"
    return $status
}
# Wine's msiexec runs no /f (it takes the package for a product name, or stops at a FIXME on a
# product code): this is msiexec /famus, the properties Windows Installer's documentation gives it
# (/fa and the registry values and shortcuts rewritten, so the decision about the class counts).
repair() { msi_run /i "$msi" REINSTALL=ALL REINSTALLMODE=amus && settle; }
uninstall() {
    local folder
    [ "$kind_prefix" = msi- ] && { msi_run /x "$msi" && settle; return; }
    folder=$(unix_path "$installed") || return 1
    [ -f "$folder/Uninstall.exe" ] || return 1
    w "$installed\\Uninstall.exe" /S
    local status=$?
    settle
    return $status
}
installed_files_are_ours() {
    local folder expected actual
    folder=$(unix_path "$installed") || return 1
    expected=$(printf '%s\n' "${shipped[@]}" $([ -z "$kind_prefix" ] && echo Uninstall.exe) | sort)
    actual=$(cd "$folder" 2>/dev/null && find . -type f | sed 's|^\./||' | sort)
    [ "$expected" = "$actual" ] || {
        echo "          installed: $(echo $actual)"
        return 1
    }
}
installed_files_match_zip() {
    local folder f
    folder=$(unix_path "$installed") || return 1
    for f in "${shipped[@]}"; do cmp -s "$folder/$f" "$programs/$f" || return 1; done
}
folder_gone() {
    local folder
    folder=$(unix_path "$installed") || return 1
    [ ! -e "$folder" ] || {
        echo "          left behind: $(ls -A "$folder")"
        return 1
    }
}
# Wine's msi puts a per-machine package's ProgramMenuFolder into the user's Start menu (a FIXME
# in its source); Windows Installer puts it into all users' Start menu, as the setup program does.
shortcut() {
    local menu='C:\ProgramData'
    [ "$kind_prefix" = msi- ] && menu=$(w cmd /c 'echo %APPDATA%' </dev/null | tr -d '\r')
    echo "$(unix_path "$menu")/Microsoft/Windows/Start Menu/Programs/Corvane.lnk"
}
shortcut_exists() { grep -qaF "$installed\\Corvane.exe" "$(shortcut)"; }
shortcut_gone() { [ ! -e "$(shortcut)" ]; }
# Our entries in the list of installed programs; the icons Windows Installer keeps for products.
entries() { w reg query "$uninstall_key" /s | tr -d '\r' | awk '/^HKEY/ { k = $0 } / DisplayName .* Corvane$/ { print k }'; }
icons() { w reg query 'HKLM\Software\Classes\Installer\Products' /s | tr -d '\r' | sed -n 's/.*ProductIcon .* //p'; }
uninstall_key='HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall'
# The one entry of ours: version, publisher, uninstall, icon, and the MSI's help link.
uninstall_entry() {
    local code key="$uninstall_key\\Corvane" uninstall="\"$installed\\Uninstall.exe\"" icon
    code=$(msi_property "$msi" ProductCode)
    [ "$kind_prefix" = msi- ] && key="$uninstall_key\\$code" uninstall="MsiExec.exe /X$code"
    icon=$(if [ "$kind_prefix" = msi- ]; then icons | grep -F "$code"; else reg_value "$key" DisplayIcon; fi)
    [ "$(entries)" = "${key/HKLM/HKEY_LOCAL_MACHINE}" ] || { echo "          entries: $(entries)"; return 1; }
    [ -f "$(unix_path "$icon")" ] || { echo "          no icon file '$icon'"; return 1; }
    value_is "$key" DisplayVersion "$version" && value_is "$key" Publisher "The Corvane project" &&
        value_is "$key" UninstallString "$uninstall" && { [ -z "$kind_prefix" ] || value_is "$key" HelpLink "$web_address"; }
}
corvane_state_gone() { reg_absent 'HKLM\Software\Corvane' && [ -z "$(entries)$(icons)" ]; }
gui_reads_library() {
    CORVANE_INSTALLED="$installed" WINE_TIMEOUT=180 w "$driver_program" </dev/null 2>&1 | sed 's/^/          /'
    return "${PIPESTATUS[0]}"
}
cli_status() {
    local out status
    out=$(w "$installed\\corvane-cli.exe" status "$stdole2" </dev/null 2>&1)
    status=$?
    echo "          corvane-cli status: $(tr -d '\r' <<<"$out" | head -3) (exit $status)"
    [ $status = 0 ] && [[ "$out" == *registered* ]]
}
# The installed console registers a library of our own and unregisters it.
cli_registers_and_unregisters() {
    local cli="$installed\\corvane-cli.exe" library
    library=$(timeout 30 winepath -w "$e2e/bin/capturelib.tlb") && w "$cli" register "$library" >/dev/null &&
        [[ "$(w "$cli" status "$library")" == registered:* ]] && w "$cli" unregister "$library" >/dev/null &&
        [[ "$(w "$cli" status "$library")" == "not registered"* ]]
} </dev/null
# What our component's own registration writes for the class from the install folder: the MSI
# writes the class itself, and must write the same.
class_branch() { w reg query "HKCR\\CLSID\\$clsid" /s | tr -d '\r'; }
class_by_regsvr32() {
    local folder dll="$installed\\CorvaneTLInfo.dll"
    folder=$(unix_path "$installed") && mkdir -p "$folder" && cp "$programs/CorvaneTLInfo.dll" "$folder/" &&
        w "$SYSTEM32\\regsvr32.exe" /s "$dll" && class_branch >"$work/class-regsvr32.txt" &&
        w "$SYSTEM32\\regsvr32.exe" /s /u "$dll" && rm -rf "$folder"
}
cli_version() {
    local out
    out=$(w "$installed\\corvane-cli.exe" --version </dev/null 2>&1) || return 1
    [[ "$out" == *"$version"* ]] || {
        echo "          corvane-cli --version: $out"
        return 1
    }
}

# How every case starts and ends: the branches saved, a silent install of exactly our files; a
# silent uninstall that leaves the folder, the shortcut, Corvane's own keys and entries and the
# TypeLib and CLSID branches as they were before the install.
saved() { export_branches "$work/exports/$current_case-$1"; }
same_as_saved() { saved now && same_branches "$work/exports/$current_case-"{"$1",now}; }
installs() {
    check "TypeLib and CLSID branches saved" saved before
    check "silent install succeeds" install
    check "installed files are ours and nothing else" installed_files_are_ours
}
uninstalls() {
    check "silent uninstall succeeds" uninstall
    check "installed folder, shortcut, entry and Corvane's own keys gone" \
        eval 'folder_gone && shortcut_gone && corvane_state_gone'
    check "TypeLib and CLSID branches as before the install" same_as_saved before
}
class_names() { value_is "HKCR\\CLSID\\$clsid\\InprocServer32" "$1"; }
# run_case NAME DESCRIPTION BODY: BODY's checks in a fresh prefix of the case's own.
run_case() {
    begin_case "$1" "$2"
    if new_prefix "$1"; then "$3"; else bad "a fresh Wine prefix could be made"; fi
    end_case
}

# A prefix with no server for the class.
case_clean() {
    [ -z "$kind_prefix" ] && check "the zip's programs carry their application manifests" zip_manifests
    check "no server registered beforehand" reg_absent "HKCR\\CLSID\\$clsid"
    [ -n "$kind_prefix" ] && check "our component's own registration from the install folder read" class_by_regsvr32
    installs
    check "installed files are the zip's" installed_files_match_zip
    check "Start-menu shortcut to the installed Corvane.exe" shortcut_exists
    check "Add/Remove entry" uninstall_entry
    check "the class names the installed DLL" class_names "$installed\\CorvaneTLInfo.dll"
    [ -n "$kind_prefix" ] && check "the class's keys are what our component's own registration writes" \
        eval 'diff "$work/class-regsvr32.txt" <(class_branch)'
    check "the install recorded that it registered the component" value_is 'HKLM\Software\Corvane' ComponentRegistered 0x1
    check "installed Corvane.exe reads stdole2.tlb through the open dialog" gui_reads_library
    check "installed corvane-cli registers and unregisters a library" cli_registers_and_unregisters
    check "installed corvane-cli --version says $version" cli_version
    rm -f "$(unix_path "$installed")/Corvane.exe"
    [ -n "$kind_prefix" ] && check "a repair (msiexec /famus) puts back a deleted Corvane.exe" \
        eval 'repair && installed_files_match_zip'
    uninstalls
}

# Another server registered for the class stays. The MSI decides at its first install, so with
# the other server gone a repair registers no class; the setup program decides at every install.
foreign='C:\Other\OtherTLInfo.dll'
add_foreign_server() { w reg add "HKLM\\Software\\Classes\\CLSID\\$clsid\\InprocServer32" /ve /d "$foreign" /f >/dev/null 2>&1; }
case_foreign() {
    check "another server registered" eval 'add_foreign_server && settle'
    installs
    check "the class still names the other server" class_names "$foreign"
    check "the install recorded that it did not register" value_is 'HKLM\Software\Corvane' ComponentRegistered 0x0
    check "installed corvane-cli status on stdole2.tlb" cli_status
    [ -n "$kind_prefix" ] && check "a repair without the other server keeps the decision: no class" \
        eval 'w reg delete "HKLM\\Software\\Classes\\CLSID\\$clsid" /f >/dev/null && repair &&
            reg_absent "HKCR\\CLSID\\$clsid" && add_foreign_server'
    uninstalls
}

# Installed twice, uninstalled once: the second install keeps the component ours.
case_twice() {
    installs
    rm -f "$(unix_path "$installed")/corvane-reader.exe"
    check "second silent install succeeds, puts back a deleted file, leaves one entry" \
        eval 'install && installed_files_match_zip && uninstall_entry'
    check "the class names the installed DLL" class_names "$installed\\CorvaneTLInfo.dll"
    check "the component still counts as registered by the install" value_is 'HKLM\Software\Corvane' ComponentRegistered 0x1
    uninstalls
}

# 64-bit Windows, with its 64-bit msiexec: a 64-bit process must not see the 32-bit server.
case_wow64() {
    msiexec_loader=$WINE64
    installs
    check "the class names the installed DLL in the 32-bit view" class_names "$installed\\CorvaneTLInfo.dll"
    check "no class in the 64-bit view" eval '! timeout 60 "$WINE64" reg query "HKCR\\CLSID\\$clsid" /reg:64 >/dev/null 2>&1'
    check "installed Corvane.exe reads stdole2.tlb through the open dialog" gui_reads_library
    check "installed corvane-cli registers and unregisters a library" cli_registers_and_unregisters
    uninstalls
}

# The MSI over a lower version's package, and that one refused over it. The lower version's has
# the same WiX source and programs but another README.txt, so the files show which package wrote.
older_msi="$work/Corvane-0.0.1-x86.msi"
older_package() {
    rm -rf "$work/older" && cp -r "$work/release/stage/Corvane-$version" "$work/older" &&
        echo 0.0.1 >>"$work/older/README.txt" && bash "$here/msi.sh" "$work/older" "$work/release" 0.0.1 "$older_msi"
}
case_upgrade() {
    check "TypeLib and CLSID branches saved" saved before
    check "version 0.0.1 built, installed, and version $version installed over it" \
        eval 'older_package && msi_run /i "$older_msi" && install'
    check "one entry, the newer files, the class as the first install decided" \
        eval 'uninstall_entry && installed_files_are_ours && installed_files_match_zip &&
            class_names "$installed\\CorvaneTLInfo.dll" && saved upgraded'
    check "version 0.0.1 over it is refused (1603)" eval 'msi_run /i "$older_msi"; [ $? = $((1603 % 256)) ]'
    check "the refusal changed nothing" eval 'uninstall_entry && installed_files_match_zip && same_as_saved upgraded'
    uninstalls
}

for kind_prefix in "" msi-; do
    unset CORVANE_WINEARCH msiexec_loader
    installed='C:\Program Files\Corvane'
    run_case clean "install, use and uninstall where no TypeLib Information server is registered" case_clean
    run_case foreign "another server registered for the class stays through install and uninstall" case_foreign
    run_case twice "an install over an earlier one keeps the component ours; one uninstall removes all" case_twice
    export CORVANE_WINEARCH=win64
    installed='C:\Program Files (x86)\Corvane'
    run_case wow64 "on 64-bit Windows: installed into Program Files (x86), the class in the 32-bit view only" case_wow64
done
unset CORVANE_WINEARCH msiexec_loader
installed='C:\Program Files\Corvane' kind_prefix=msi-
run_case upgrade "the MSI replaces a lower version's; that one, refused over it, changes nothing" case_upgrade

echo
echo "Release $version: $setup, $msi"
printf '  %s\n' "${summary[@]}"
echo "$passed passed, $failed failed"
[ "$failed" = 0 ]
