#!/usr/bin/env bash
# kvprt's bash and zsh completion: what Tab offers after a command line, in a
# folder with known files; the commands offered are those `kvprt --help` lists.
# zsh is driven through a pseudo-terminal (zsh/zpty) where it is installed.
# Usage: completion_test.sh COMPLETION_DIR KVPRT
set -euo pipefail
completion=$(cd "$1" && pwd) kvprt=$(realpath "$2")
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
cd "$scratch"
touch office.qsf profile.json

commands=$("$kvprt" --help | sed -n '/^Subcommands:/,$p' | awk 'NR > 1 && NF { print $1 }' | sort | xargs)
rows=(
  "kvprt |$commands"
  "kvprt qs |receive send"
  "kvprt storage cp flash |disk flash"
  "kvprt --json storage rm |disk flash"
  "kvprt -p |sim: tcp://"
  "kvprt -p sim:pro|profile.json"
  "kvprt watch --|--count --help --json --printer --timeout"
  "kvprt qs send off|office.qsf"
  "kvprt panel p|press"
  "kvprt snapshot --|--help --json --printer --profile"
  "kvprt snapshot --profile pro|profile.json"
  "kvprt discover --|--auth --community --dns-sd --help --jobs --json --printer --snmp-port --timeout --write-fleet"
)

bash_offers() {
  bash -c 'source "$1/kvprt.bash"; COMP_LINE=$2; COMP_POINT=${#2}; _kvprt; printf "%s\n" "${COMPREPLY[@]}"' \
    _ "$completion" "$1" | sed '/^$/d' | sort | xargs
}

zsh_offers() {
  timeout 20 zsh -f -c '
    zmodload zsh/zpty
    zpty z zsh -f -i
    zpty -w z "PROMPT= ; fpath=($1 \$fpath); autoload -U compinit; compinit -u -D"
    zpty -w z "compadd () { local -a h; builtin compadd -O h \"\$@\"; print -l -- \"<h\"\"it>\"\${^h}\"</h\"\"it>\"; builtin compadd \"\$@\" }"
    zpty -w z "$2"$'"'"'\t'"'"'
    zpty -w z $'"'"'\C-u'"'"'"print \"<do\"\"ne>\""
    out=""
    while zpty -r z line; do out+=$line; [[ $out == *"<done>"* ]] && break; done
    zpty -d z
    print -r -- $out' _ "$completion" "$1" | grep -o '<hit>[^<]*</hit>' | sed 's/<[/]*hit>//g' | sort -u | xargs
}

failed=0
for row in "${rows[@]}"; do
  line=${row%%|*} want=${row#*|}
  shells=(bash)
  command -v zsh >/dev/null && shells+=(zsh)
  for shell in "${shells[@]}"; do
    got=$("${shell}_offers" "$line" || true)
    if [[ $got != "$want" ]]; then
      echo "$shell, after '$line': offered '$got', expected '$want'"
      failed=1
    fi
  done
done
exit $failed
