#!/bin/sh
# Eight kvtconv processes started at once on a fresh charset directory (no
# compiled tables yet) must convert exactly as the same conversions run one
# after another, and leave the same compiled files, byte for byte, and
# nothing else. Then rounds in which one of the eight is killed (SIGKILL) at
# a random moment: the others still convert correctly, no compiled file that
# exists is ever partial, and once the killed conversion is run again the
# directory is as complete and clean as after a quiet run.
# Usage: tests/reliability/processes.sh KVTCONV SOURCE_DIR [KILL_ROUNDS]
set -eu
kvt=$1 src=$2 rounds=${3:-8}
work=$(mktemp -d /tmp/zk-processes-XXXXXX)
trap 'rm -rf "$work"' EXIT
sample=$src/data/samples/sample-sjis.txt
# Between them the eight use every Japanese, Chinese and Korean table.
set -- "SJIS EUC-JP" "CP932 UTF-16" "SJIS EUC-JIS-2004" "SJIS GBK" "SJIS BIG5" "SJIS EUC-KR" \
  "SJIS OASYS_WIN" "SJIS ISO-2022-JP-2004"
fail() { echo "FAIL: $*" >&2; exit 1; }
fresh() {
  rm -rf "$1" && mkdir "$1"
  for f in "$src"/data/base2/*; do case $f in *.cmp) ;; *) cp "$f" "$1/" ;; esac; done
}
conv() {  # DIR N PAIR: conversion N of the eight, into DIR.out.N; call in a subshell
  set -- "$1" "$2" ${3%% *} ${3##* }
  exec "$kvt" --charset-dir "$1/" -f "$3" -t "$4" --replace "$sample" >"$1.out.$2"
}
random() { echo $(($(od -An -N2 -tu2 /dev/urandom) % $1)); }
now_ms() { echo $(($(date +%s%N) / 1000000)); }
same_dir() {  # DIR: the reference's files, each identical, and nothing else
  [ "$(ls "$1")" = "$(ls "$work/ref")" ] || fail "files differ: $(ls "$1" | grep -vxF "$(ls "$work/ref")" || true)"
  for f in "$1"/*.cmp; do cmp -s "$f" "$work/ref/${f##*/}" || fail "${f##*/} differs"; done
}

fresh "$work/ref"
n=0
for pair; do n=$((n + 1)); (conv "$work/ref" $n "$pair"); done
[ "$(ls "$work/ref" | grep -c '\.cmp$')" -ge 10 ] || fail "too few compiled tables"

# Eight at once.
fresh "$work/d"
start=$(now_ms)
n=0
for pair; do n=$((n + 1)); conv "$work/d" $n "$pair" & done
wait
took=$(($(now_ms) - start))
n=0
for pair; do n=$((n + 1)); cmp -s "$work/d.out.$n" "$work/ref.out.$n" || fail "output of $pair"; done
same_dir "$work/d"
echo "8 processes at once: outputs and compiled tables correct (${took} ms)"

# Rounds in which one of the eight is killed. Odd rounds: a random one at a
# random moment. Even rounds: the one that is compiling a table, and so holds
# the lock. As soon as a file other than definitions and compiled tables
# shows up, all eight are stopped, the one with a table file or that file
# open is killed, and the others go on.
writing() {
  for f in "$work"/d/*; do case $f in *.xml | *.def | *.txt | *.cmp | *.lock) ;; *) return 0 ;; esac; done
  return 1
}
running() { for p in $pids; do kill -0 "$p" 2>/dev/null && return 0; done; return 1; }
compiler() {  # index among the eight of the one writing, or 0
  i=0
  for p in $pids; do
    i=$((i + 1))
    ls -l "/proc/$p/fd" 2>/dev/null | grep -F "$work/d/" | grep -qvE '\.(xml|def|cmp|lock)$' &&
      { echo $i; return; }
  done
  echo 0
}
r=0 hit=0 compiling=0
while [ $r -lt "$rounds" ]; do
  r=$((r + 1))
  fresh "$work/d"
  n=0 pids=""
  for pair; do n=$((n + 1)); conv "$work/d" $n "$pair" & pids="$pids $!"; done
  if [ $((r % 2)) -eq 1 ]; then
    victim=$(($(random 8) + 1)) delay=$(random $((took / 4 + 1)))
    sleep "$(printf '%d.%03d' $((delay / 1000)) $((delay % 1000)))"
    kill -9 "$(echo $pids | cut -d' ' -f$victim)" 2>/dev/null || true
  else
    until writing || ! running; do :; done
    kill -STOP $pids 2>/dev/null || true
    victim=$(compiler)
    [ "$victim" -gt 0 ] && kill -9 "$(echo $pids | cut -d' ' -f$victim)" && compiling=$((compiling + 1))
    kill -CONT $pids 2>/dev/null || true
  fi
  wait || true
  # Killed before it had written all its output: the kill came while it ran.
  [ "$victim" -gt 0 ] && ! cmp -s "$work/d.out.$victim" "$work/ref.out.$victim" && hit=$((hit + 1))
  n=0
  for pair; do
    n=$((n + 1))
    [ $n -eq "$victim" ] && continue
    cmp -s "$work/d.out.$n" "$work/ref.out.$n" || fail "round $r: output of $pair"
  done
  for f in "$work"/d/*.cmp; do
    [ -e "$f" ] || continue
    cmp -s "$f" "$work/ref/${f##*/}" || fail "round $r: partial ${f##*/} after the kill"
  done
  if [ "$victim" -gt 0 ]; then
    (conv "$work/d" "$victim" "$(eval echo \"\${$victim}\")")
    cmp -s "$work/d.out.$victim" "$work/ref.out.$victim" || fail "round $r: rerun of the killed one"
  fi
  same_dir "$work/d"
done
echo "$rounds rounds, one process killed in each: $hit before it finished, $compiling of them" \
  "while compiling; others correct, nothing partial left"
