#!/usr/bin/env bash
# check-bundle.sh BUNDLE...: each bundle is self-contained: libraries as regular files
# named by their SONAME, none of the base system, Qt's plug-ins and qt.conf, the
# RUNPATH each kind of file needs, everything stripped. Prints every fault.
set -uo pipefail
faults=0
fault() { echo "check-bundle: $*" >&2; faults=$((faults + 1)); }
base='^(ld-linux|libc\.so|libm\.so|libstdc\+\+|libgcc_s|libX11|libxcb\.so|libGL|libEGL|libfontconfig|libfreetype|libglib-2|libgio-2|libdbus-1|libsystemd|libudev)'
for bundle in "$@"; do
  c="$bundle/Contents"
  for f in MacOS/qt.conf PlugIns/platforms/libqxcb.so PlugIns/platforms/libqoffscreen.so \
    PlugIns/imageformats/libqicns.so; do [ -f "$c/$f" ] || fault "$bundle: no $f"; done
  [ -z "$(find "$bundle" -type l)" ] || fault "$bundle: symbolic links: $(find "$bundle" -type l)"
  while IFS= read -r -d '' file; do
    [ "$(head -c4 "$file" | od -An -tx1 | tr -d ' ')" = 7f454c46 ] || continue
    rel=${file#"$c"/} name=$(basename "$file")
    case "$rel" in
      MacOS/quiesce-root-helper) want="" ;;
      MacOS/*) want='$ORIGIN/../Frameworks' ;;
      Frameworks/*) want='$ORIGIN'
        [ "$(patchelf --print-soname "$file")" = "$name" ] || fault "$rel: not named by its SONAME"
        [[ ! "$name" =~ $base ]] || fault "$rel: belongs to the base system" ;;
      PlugIns/*/*) want='$ORIGIN/../../Frameworks' ;;
      *) fault "$rel: a binary outside MacOS, Frameworks and PlugIns"; continue ;;
    esac
    [ "$(patchelf --print-rpath "$file")" = "$want" ] || fault "$rel: RUNPATH is not '$want'"
    ! readelf -S "$file" | grep -q -e '\.symtab' -e '\.debug_info' || fault "$rel: not stripped"
  done < <(find "$c" -type f -print0)
done
[ "$faults" -eq 0 ]
