#!/usr/bin/env bash
# A folder between two copies of the window on two hosts (network
# namespaces joined by a veth pair, the real ports): FILES files of 10 KB in
# 100 sub-folders, against cp -r of the same folder followed by sync, in
# the same run, since this machine is shared and noisy. Each contender runs
# ROUNDS times and its best time counts. Needs root.
# Usage: bench/folder_copy.sh DRIVER [files] [rounds]   (defaults 10000, 2)
set -u
driver=$(realpath "$1")
files=${2:-10000}
rounds=${3:-2}
source "$(dirname "$0")/copyutil.sh"
unset DISPLAY

tree="$work/src/Проект"
for d in $(seq 100); do mkdir -p "$tree/d$d"; done
for i in $(seq "$files"); do head -c 10240 /dev/urandom > "$tree/d$((i % 100 + 1))/f$i.bin"; done
echo "== a folder of $files files of 10 KB in 100 folders, against cp -r and sync"
for r in $(seq "$rounds"); do
  rm -rf "$work/cp"; mkdir -p "$work/cp"
  t0=$(now); cp -r "$tree" "$work/cp/" && sync -f "$work/cp"; t1=$(now)
  echo "$((t1 - t0))" >> "$work/cp.times"
  adding=add-folder copy alpha beta "$tree"
  [ "$(find "$work/in/Проект" -type f | wc -l)" -eq "$files" ] || { echo "files missing"; exit 1; }
  diff -r "$tree" "$work/in/Проект" > /dev/null || { echo "the copy differs"; exit 1; }
  echo "$(took_all)" >> "$work/folder.times"
done
awk -v d="$(best < "$work/folder.times")" -v c="$(best < "$work/cp.times")" -v n="$files" 'BEGIN {
  printf "  dizaruz %.1f s (%.2f ms a file), cp -r and sync %.2f s (%.1f x)\n", d / 1000, d / n, c / 1000, d / c }'
