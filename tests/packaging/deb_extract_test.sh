#!/usr/bin/env bash
# The Debian packages, extracted into a scratch root: without the development
# package, kvprt and kvprtd run there on the root's libraries (a report of the
# embedded printer, a Quick Setup receive through QSVARS.CFG and the file
# library's soname, kvprtd on its packaged fleet file, a net:// printer
# without and with the network backend's package); with it, a program builds
# against the root through pkg-config. Each package depends on what it needs, and apt resolves the
# dependencies of all of them against this system.
# Usage: deb_extract_test.sh PACKAGE_DIR VERSION ARCH
set -euo pipefail
dir=$(realpath "$1") version=$2 arch=$3
source_dir=$(cd "$(dirname "$0")/../.." && pwd)
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
fail() { echo "deb_extract: $*" >&2; exit 1; }
deb() { echo "$dir/${1}_${version}_${arch}.deb"; }

packages=(libkvprtobj1 libkvprtobj-dev kvprt kvprtd libkvprtnet1)
for p in "${packages[@]}"; do [[ -f $(deb "$p") ]] || fail "missing $(deb "$p")"; done

# Dependencies: on each other at this very version, on Debian's libraries.
expect_depends() {
  local depends
  depends=$(dpkg-deb -f "$(deb "$1")" Depends)
  shift
  for want in "$@"; do [[ $depends == *"$want"* ]] || fail "$p: Depends lacks '$want': $depends"; done
}
expect_depends libkvprtobj1 "libc6 (" "libstdc++6 ("
expect_depends libkvprtobj-dev "libkvprtobj1 (= $version)"
expect_depends kvprt "libkvprtobj1 (= $version)" "libstdc++6 ("
expect_depends kvprtd "libkvprtobj1 (= $version)" "libsqlite3-0 ("
expect_depends libkvprtnet1 "libkvprtobj1 (= $version)" "libsnmp40 (" "libcups2 ("
# The library itself depends on neither: only the backend the engine loads does.
[[ $(dpkg-deb -f "$(deb libkvprtobj1)" Depends) != *snmp* && $(dpkg-deb -f "$(deb libkvprtobj1)" Depends) != *cups* ]] ||
  fail "libkvprtobj1 depends on net-snmp or libcups: $(dpkg-deb -f "$(deb libkvprtobj1)" Depends)"
debs=()
for p in "${packages[@]}"; do debs+=("$(deb "$p")"); done
apt-get install --simulate --quiet=2 "${debs[@]}" >"$scratch/apt.log" 2>&1 || { cat "$scratch/apt.log"; fail "apt cannot install the packages"; }

root=$scratch/root
for p in libkvprtobj1 kvprt kvprtd; do dpkg-deb -x "$(deb "$p")" "$root"; done
libdir=$(dirname "$(find "$root" -name libkvprtobj.so.1)")
[[ ! -e $libdir/libkvprtobj.so ]] || fail "the run-time packages hold the development link libkvprtobj.so"
export LD_LIBRARY_PATH=$libdir
"$root/usr/bin/kvprt" --version | grep -qx "libkvprtobj $version from $libdir/libkvprtobj.so.1" ||
  fail "kvprt does not run on the root's libkvprtobj: $("$root/usr/bin/kvprt" --version)"
"$root/usr/bin/kvprt" report >"$scratch/report" || fail "kvprt report failed"
grep -q "Model: *SIM LASER" "$scratch/report" || fail "no model in the report: $(head "$scratch/report")"
"$root/usr/bin/kvprt" qs receive "$scratch/settings.qsf" >/dev/null 2>&1 || fail "kvprt qs receive failed"
"$root/usr/bin/kvprtd" --version | grep -q "^kvprtd $version$" || fail "kvprtd --version: $("$root/usr/bin/kvprtd" --version)"
# The service's fleet file as packaged (a commented example) is one kvprtd serves with.
"$root/usr/bin/kvprtd" --fleet "$root/etc/kvprtd/fleet.toml" --listen 127.0.0.1:0 --db "$scratch/kvprtd.db" \
  --port-file "$scratch/port" >/dev/null 2>"$scratch/kvprtd.log" &
kvprtd=$!
for _ in $(seq 100); do [[ -s $scratch/port ]] && break; sleep 0.1; done
kill -TERM $kvprtd
wait $kvprtd || fail "kvprtd on the packaged fleet file: $(cat "$scratch/kvprtd.log")"
[[ -s $scratch/port ]] || fail "kvprtd did not serve on the packaged fleet file: $(cat "$scratch/kvprtd.log")"
for f in usr/share/man/man1/kvprt.1.gz usr/share/man/man1/kvprtsimd.1.gz usr/share/man/man8/kvprtd.8.gz \
         usr/share/bash-completion/completions/kvprt usr/share/zsh/vendor-completions/_kvprt; do
  [[ -f $root/$f ]] || fail "not packaged: /$f"
done
# Without the network backend a net:// printer cannot be opened, and says why;
# with it, it is opened and named as not answering.
"$root/usr/bin/kvprt" -p 'net://127.0.0.1?timeout=200' info 2>"$scratch/net" && fail "net:// opened without libkvprtnet1"
grep -q "BceOpenPrinter: -21 .*the network printer library libkvprtnet.so cannot be loaded" "$scratch/net" ||
  fail "net:// without libkvprtnet1: $(cat "$scratch/net")"
dpkg-deb -x "$(deb libkvprtnet1)" "$root"
"$root/usr/bin/kvprt" -p 'net://127.0.0.1?protocols=ipp&ipp-port=9&timeout=200' info 2>"$scratch/net" && fail "net:// answered from nowhere"
grep -q "BceGetPrtInfo: -10 .*does not answer" "$scratch/net" || fail "net:// with libkvprtnet1: $(cat "$scratch/net")"
unset LD_LIBRARY_PATH

# The development package: a host builds and runs against the root.
dpkg-deb -x "$(deb libkvprtobj-dev)" "$root"
export PKG_CONFIG_PATH=$libdir/pkgconfig
read -ra flags <<<"$(pkg-config --cflags --libs kvprtobj)"
c++ -std=c++20 "$source_dir/tests/consumer/project/main.cpp" -o "$scratch/consumer" "${flags[@]}"
LD_LIBRARY_PATH=$libdir "$scratch/consumer" | grep -q "consumer ok" || fail "the consumer built against the root does not run"
