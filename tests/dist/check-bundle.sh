#!/usr/bin/env bash
# check-bundle.sh BUNDLE...
# Checks that each bundle is laid out self-contained: libraries as regular files named
# by their SONAME, none of the base system among them, Qt's plug-ins and qt.conf, the
# RUNPATH each kind of file needs, and nothing left unstripped. Prints every fault.
set -uo pipefail
faults=0
fault() { echo "check-bundle: $*" >&2; faults=$((faults + 1)); }
base='^(ld-linux|libc\.so|libm\.so|libstdc\+\+|libgcc_s|libX11|libxcb\.so|libGL|libEGL|libfontconfig|libfreetype|libglib-2|libgio-2|libdbus-1|libsystemd|libudev)'

for bundle in "$@"; do
  contents="$bundle/Contents"
  [ -f "$contents/MacOS/qt.conf" ] || fault "$bundle: no qt.conf beside the executable"
  for plugin in platforms/libqxcb.so platforms/libqoffscreen.so imageformats/libqicns.so; do
    [ -f "$contents/PlugIns/$plugin" ] || fault "$bundle: plug-in $plugin missing"
  done
  links=$(find "$bundle" -type l)
  [ -z "$links" ] || fault "$bundle: symbolic links: $links"
  while IFS= read -r -d '' file; do
    [ "$(head -c4 "$file" | od -An -tx1 | tr -d ' ')" = 7f454c46 ] || continue
    relative=${file#"$contents"/}
    case "$relative" in
      MacOS/quiesce-root-helper) want="" ;;
      MacOS/*) want='$ORIGIN/../Frameworks' ;;
      Frameworks/*) want='$ORIGIN'
        name=$(basename "$file")
        [ "$(patchelf --print-soname "$file")" = "$name" ] || fault "$relative: not named by its SONAME"
        if [[ "$name" =~ $base ]]; then fault "$relative: belongs to the base system"; fi ;;
      PlugIns/*/*) want='$ORIGIN/../../Frameworks' ;;
      *) fault "$relative: a binary outside MacOS, Frameworks and PlugIns"; continue ;;
    esac
    have=$(patchelf --print-rpath "$file")
    [ "$have" = "$want" ] || fault "$relative: RUNPATH '$have', expected '$want'"
    if readelf -S "$file" | grep -q -e '\.symtab' -e '\.debug_info'; then
      fault "$relative: not stripped"
    fi
  done < <(find "$contents" -type f -print0)
done
[ "$faults" -eq 0 ]
