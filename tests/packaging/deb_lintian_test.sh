#!/usr/bin/env bash
# lintian on the Debian packages: no error (warnings and information shown).
# The packages' lintian overrides are in cmake/debian/PACKAGE/lintian-overrides.
# Usage: deb_lintian_test.sh PACKAGE_DIR
set -euo pipefail
shopt -s nullglob
debs=("$1"/*.deb)
((${#debs[@]})) || { echo "deb_lintian: no packages in $1" >&2; exit 1; }
lintian --fail-on error --info "${debs[@]}"
