# What the copy benchmarks share: the two namespaces, the clock and the
# driver runs. Sourced with $driver set; needs root.
best() { sort -n | head -n 1; }
source "$(dirname "$0")/../services/tests/netns.sh"
now() { date +%s%3N; }
field() { awk -v s="$2" '$1 == "at" && $2 == s { print $'"$3"'; exit }' "$1"; }
value() { awk -v k="$2" '$1 == k { print $2; exit }' "$1"; }

# copy FROM TO PATHS...: the copy named FROM sends the paths to TO (by name),
# each a row added by $adding (add: a file, add-folder: a folder); leaves the
# run's figures in $work/from.err and $work/to.err.
copy() {
  local from=$1 to=$2; shift 2
  local n=$#
  local adds=()
  for f in "$@"; do adds+=("${adding:-add}" "$f"); done
  local ns_from=$alpha ns_to=$beta
  [ "$from" = beta ] && { ns_from=$beta; ns_to=$alpha; }
  rm -rf "$work/in" "$work/from" "$work/to"; mkdir -p "$work/in" "$work/from" "$work/to"
  on "$ns_to" "$to" "$driver" "$work/to/" timeout 900 folder "$work/in" wait-peer wait-files "$n" wait-received "$n" \
    > /dev/null 2> "$work/to.err" &
  local to_pid=$!
  sleep 1
  on "$ns_from" "$from" "$driver" "$work/from/" timeout 900 connect "$to" wait-peer "${adds[@]}" send wait-sent \
    > /dev/null 2> "$work/from.err" || { echo "$from failed: $(tail -n 5 "$work/from.err") / $to: $(tail -n 5 "$work/to.err")"; exit 1; }
  wait $to_pid || { echo "$to failed: $(tail -n 5 "$work/to.err")"; exit 1; }
}
# Click to the last file stored, in ms.
took() { echo $(( $(field "$work/to.err" wait-files 4) - $(field "$work/from.err" send 3) )); }
# Click to the end of the receiver's batch, in ms.
took_all() { echo $(( $(field "$work/to.err" wait-received 4) - $(field "$work/from.err" send 3) )); }
