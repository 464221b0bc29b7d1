#!/usr/bin/env bash
# cmake --install into a staging folder: the root helper lands under libexec with
# mode 0755, root-owned when installed as root, without RUNPATH; its polkit action
# lands in /usr/share/polkit-1/actions and names the helper's installed path.
# Usage: install_check.sh <build folder> <helper's installed path>
set -euo pipefail
build=$1
helper=$2
stage=$(mktemp -d)
trap 'rm -rf "$stage"' EXIT
DESTDIR=$stage cmake --install "$build" >/dev/null

fail() { echo "FAIL: $*" >&2; exit 1; }
installed=$stage$helper
policy=$stage/usr/share/polkit-1/actions/com.brindle.quiesce.policy
[[ -f $installed ]] || fail "no helper at $installed"
[[ $(stat -c %a "$installed") == 755 ]] || fail "helper mode $(stat -c %a "$installed")"
if [[ $(id -u) == 0 ]]; then
  [[ $(stat -c %u "$installed") == 0 ]] || fail "helper not owned by root"
fi
if readelf -d "$installed" | grep -qE 'RPATH|RUNPATH'; then fail "helper has a RUNPATH"; fi
[[ -f $policy ]] || fail "no polkit action at $policy"
xmllint --noout "$policy" || fail "polkit action is not well-formed"
python3 - "$policy" "$helper" <<'PY' || fail "polkit action content"
import sys, xml.etree.ElementTree as ET
action = ET.parse(sys.argv[1]).getroot().find("action")
assert action.findtext("message").strip()
for key in ("allow_any", "allow_inactive", "allow_active"):
    assert action.find("defaults").findtext(key) == "auth_admin", key
paths = [a.text for a in action.findall("annotate") if a.get("key") == "org.freedesktop.policykit.exec.path"]
assert paths == [sys.argv[2]], paths
PY
echo "installed: $helper and its polkit action"
