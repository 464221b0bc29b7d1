#!/usr/bin/env bash
# package-test.sh BUILD SAMPLE WORK PACKAGE...: the Debian package. Unpacked (dpkg -x), its
# lesson-pack packs the sample as a single file with the installed bundles beside it (no build
# tree, no cmake), and the root helper lies where Quiesce and the polkit action look for it.
# Then, in a bare Debian root of the base PACKAGEs (77: none here), it is installed with dpkg -i,
# a system bus and polkitd are started, and Quiesce's Force Close All, through the real pkexec
# as root, ends a real holder of the plug-in and Quiesce with 0.
set -euo pipefail
here=$(dirname "$0") build=$1 sample=$2 work=$3
shift 3
fail() { echo "package-test: $*" >&2; exit 1; }
skip() { echo "package-test: skipped: $*" >&2; exit 77; }
rm -rf "$work" && mkdir -p "$work"
cpack --config "$build/CPackConfig.cmake" -B "$work/cpack" >"$work/cpack.log" 2>&1 ||
  fail "cpack failed: $(tail -n 20 "$work/cpack.log")"
deb=$(echo "$work/cpack/"*.deb)
dpkg -x "$deb" "$work/root" || fail "no single .deb written"
bundles="$work/root/usr/lib/brindle/bundles"
"$here/check-bundle.sh" "$bundles"/{Unspool,Wayfarer,Quiesce}.app || fail "an installed bundle is not self-contained"
PATH=/usr/bin:/bin "$work/root/usr/bin/lesson-pack" --single-file "$sample" "Installed Sample" "$work/out" >/dev/null
"$here/check-bundle.sh" "$work/out/Installed Sample.app" || fail "the packed lesson is not self-contained"
[ -f "$work/out/Installed Sample.run" ] || fail "no single file from the installed packer"

# One path: where the package puts the helper, what Quiesce runs, what the action allows.
helper=$(cd "$work/root" && find . -path '*/libexec/quiesce/quiesce-root-helper' | cut -c2-)
[ -n "$helper" ] || fail "no root helper in the package"
strings -a -el "$bundles/Quiesce.app/Contents/MacOS/Quiesce" | grep -qxF "$helper" ||
  fail "Quiesce does not look for the helper at $helper"
grep -qF ">$helper</annotate>" "$work/root/usr/share/polkit-1/actions/com.brindle.quiesce.policy" ||
  fail "the polkit action does not name $helper"

# The installed package in a bare root: its dependencies from Debian, as apt would bring them.
needs=$(dpkg-deb -f "$deb" Depends Recommends | sed -e 's/^[A-Za-z]*: //' -e 's/([^)]*)//g' -e 's/|[^,]*//g' | tr ',' ' ')
status=0 && base=$("$here/debian-root.sh" "$work/debootstrap.log" "$@" $needs dbus polkitd adduser libpam-systemd) || status=$?
[ $status -ne 77 ] || skip "debootstrap and chroot need root"
[ $status -eq 0 ] || fail "no Debian root"
root=$work/merged
pids=()
cleanup() {
  for pid in "${pids[@]}"; do kill -9 "$pid" 2>/dev/null || true; done
  for pid in $(ls /proc | grep -E '^[0-9]+$'); do
    [ "$(readlink "/proc/$pid/root" 2>/dev/null)" != "$root" ] || kill -9 "$pid" 2>/dev/null || true
  done
  umount -l "$root/proc" "$root/dev" "$root/run" "$root/tmp/.X11-unix" "$root" "$work/layer" 2>/dev/null || true
}
trap cleanup EXIT
# The cached root stays as it was: the changes go to a layer on top, in memory.
mkdir -p "$work/layer" "$root" && mount -t tmpfs tmpfs "$work/layer" && mkdir "$work/layer/"{upper,work} &&
  mount -t overlay overlay -o "lowerdir=$base,upperdir=$work/layer/upper,workdir=$work/layer/work" "$root" ||
  skip "cannot lay a writable layer over the root"
mount -t proc proc "$root/proc" && mount --bind /dev "$root/dev" && mount -t tmpfs tmpfs "$root/run" ||
  skip "cannot mount in the root"
cp "$deb" "$root/tmp/package.deb"
in_root() { chroot "$root" /usr/bin/env -i PATH=/usr/sbin:/usr/bin:/sbin:/bin HOME=/root "$@"; }
in_root dpkg -i /tmp/package.deb >"$work/dpkg.log" 2>&1 || fail "dpkg -i failed: $(tail -n 20 "$work/dpkg.log")"
[ "$(stat -c %U:%a "$root$helper")" = root:755 ] || fail "the installed helper is not root's alone"

mkdir -p "$root/run/dbus" && in_root dbus-daemon --system --fork --nopidfile || fail "no system bus"
in_root /usr/lib/polkit-1/polkitd --no-debug >"$work/polkitd.log" 2>&1 &
pids+=($!)
for _ in $(seq 300); do
  in_root dbus-send --system --print-reply --dest=org.freedesktop.DBus / org.freedesktop.DBus.NameHasOwner \
    string:org.freedesktop.PolicyKit1 2>/dev/null | grep -q true && break
  sleep 0.1
done
in_root pkexec /bin/true || fail "pkexec refuses root: $(cat "$work/polkitd.log")"

# A holder of the system-wide plug-in, and Quiesce on a virtual screen the root shares.
in_root sh -c 'mkdir -p "/Library/Internet Plug-Ins/Glimmer Player.plugin" &&
  cd "/Library/Internet Plug-Ins/Glimmer Player.plugin" && exec sleep 600' &
holder=$!
pids+=($holder)
display=:$((100 + $$ % 800))
Xvfb "$display" -nolisten tcp -screen 0 1024x768x24 >"$work/xvfb.log" 2>&1 &
pids+=($!)
for _ in $(seq 300); do [ -S "/tmp/.X11-unix/X${display#:}" ] && break; sleep 0.1; done
mkdir -p "$root/tmp/.X11-unix" && mount --bind /tmp/.X11-unix "$root/tmp/.X11-unix"
in_root DISPLAY="$display" QT_QPA_PLATFORM=xcb /usr/lib/brindle/bundles/Quiesce.app/Contents/MacOS/Quiesce \
  >"$work/quiesce.log" 2>&1 &
quiesce=$!
pids+=($quiesce)
window=$(DISPLAY=$display timeout 60 xdotool search --sync --onlyvisible --name '^Close Applications$' | head -n1) ||
  fail "Quiesce showed no window: $(cat "$work/quiesce.log")"
# Force Close All lies 158 by 30 pixels from the fixed-size window's lower right corner.
eval "$(DISPLAY=$display xdotool getwindowgeometry --shell "$window")"
DISPLAY=$display xdotool mousemove --window "$window" $((WIDTH - 158)) $((HEIGHT - 30)) click 1
status=0 && timeout 60 tail --pid="$quiesce" -f /dev/null || fail "Quiesce did not end"
wait "$quiesce" || status=$?
[ "$status" -eq 0 ] || fail "Quiesce ended with $status: $(cat "$work/quiesce.log")"
# Ended by the signal, not waited for yet: gone, or a zombie.
[ ! -e "/proc/$holder" ] || [ "$(sed 's/.*) //' "/proc/$holder/stat" | cut -c1)" = Z ] ||
  fail "the holder is still there"
