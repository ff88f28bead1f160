#!/usr/bin/env bash
# Builds the Windows Installer package from installer/corvane.wxs with wixl:
#   scripts/msi.sh STAGE BUILD VERSION OUTFILE
# STAGE holds the files to install (the zip's; the icon comes from resources/), BUILD the configured build folder whose
# generated/ids.sh names the component's class, VERSION is x.y.z. scripts/dist.sh calls it with
# the build's version; scripts/test-dist.sh with other versions too, to test upgrades.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
[ $# = 4 ] || { echo "usage: $0 STAGE BUILD VERSION OUTFILE" >&2; exit 2; }
stage=$(readlink -f "$1")
build=$(readlink -f "$2")
version=$3
out=$(readlink -m "$4")
installer=$(cd "$here/../installer" && pwd)
source "$build/generated/ids.sh"

rm -f "$out"
# wixl reads each File's Source, a bare name, from the folder it runs in: there the staged files
# and the program's icon, for the list of installed programs.
sources=$(mktemp -d)
trap 'rm -rf "$sources"' EXIT
ln -s "$stage"/* "$here/../resources/corvane.ico" "$sources/"
(cd "$sources" && wixl -a x86 -o "$out" -D Version="$version" -D ClsidTLInfo="$tlinfo_clsid" \
    -D ClassName="$tlinfo_class_name" -D ThreadingModel="$tlinfo_threading_model" \
    -D HelpLink="$web_address" "$installer/corvane.wxs") || { echo "msi: wixl failed" >&2; exit 1; }
# What wixl cannot write from WiX source: the components' conditions.
while IFS= read -r statement; do
    [[ -z "$statement" || "$statement" == --* ]] && continue
    msibuild "$out" -q "$statement" || { echo "msi: msibuild failed on: $statement" >&2; exit 1; }
done <"$installer/corvane-conditions.sql"
