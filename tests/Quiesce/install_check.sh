#!/usr/bin/env bash
# cmake --install into a staging folder lays the root helper (0755, root's, no RUNPATH) and a
# polkit action asking for an administrator to run it.  install_check.sh <build> <helper's path>
set -euo pipefail
stage=$(mktemp -d)
trap 'rm -rf "$stage"' EXIT
DESTDIR=$stage cmake --install "$1" >/dev/null
fail() { echo "FAIL: $*" >&2; exit 1; }
helper=$stage$2
policy=$stage/usr/share/polkit-1/actions/com.brindle.quiesce.policy
[[ $(stat -c %a "$helper") == 755 ]] || fail "helper missing or mode not 755"
[[ $(id -u) != 0 || $(stat -c %u "$helper") == 0 ]] || fail "helper not owned by root"
! readelf -d "$helper" | grep -qE 'RPATH|RUNPATH' || fail "helper has a RUNPATH"
xmllint --noout "$policy" || fail "no well-formed polkit action at $policy"
python3 - "$policy" "$2" <<'PY' || fail "polkit action content"
import sys, xml.etree.ElementTree as ET
action = ET.parse(sys.argv[1]).getroot().find("action")
assert action.findtext("message").strip()
assert [action.find("defaults").findtext(k) for k in ("allow_any", "allow_inactive", "allow_active")] == ["auth_admin"] * 3
paths = [a.text for a in action.findall("annotate") if a.get("key") == "org.freedesktop.policykit.exec.path"]
assert paths == [sys.argv[2]], paths
PY
echo "installed: $2 and its polkit action"
