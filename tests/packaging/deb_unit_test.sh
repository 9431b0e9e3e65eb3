#!/usr/bin/env bash
# kvprtd.service as packaged: `systemd-analyze verify` accepts it without a
# word (its ExecStart pointed at the extracted kvprtd, which it checks is
# there), it has the hardening asked of it, and systemd's exposure estimate
# stays at 2.0 or below. Skipped (77) without systemd-analyze.
# Usage: deb_unit_test.sh PACKAGE_DIR VERSION ARCH
set -euo pipefail
command -v systemd-analyze >/dev/null || { echo "no systemd-analyze: skipped"; exit 77; }
deb=$1/kvprtd_${2}_${3}.deb
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
dpkg-deb -x "$deb" "$scratch/root"
packaged=$scratch/root/usr/lib/systemd/system/kvprtd.service
unit=$scratch/kvprtd.service
sed "s#=/usr/bin/kvprtd #=$scratch/root/usr/bin/kvprtd #" "$packaged" >"$unit"

failed=0
out=$(systemd-analyze verify --man=no "$unit" 2>&1) || failed=1
[[ -z $out ]] || { echo "$out"; failed=1; }
for line in "ExecStart=/usr/bin/kvprtd --fleet /etc/kvprtd/fleet.toml" 'ExecReload=/bin/kill -HUP $MAINPID' \
            DynamicUser=yes StateDirectory=kvprtd ProtectSystem=strict NoNewPrivileges=yes \
            "RestrictAddressFamilies=AF_UNIX AF_INET AF_INET6" WantedBy=multi-user.target; do
  grep -qxF "$line" "$packaged" || { echo "kvprtd.service lacks: $line"; failed=1; }
done
systemd-analyze security --offline=yes --threshold=20 "$unit" >"$scratch/security" 2>&1 ||
  { cat "$scratch/security"; failed=1; }
exit $failed
