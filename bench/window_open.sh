#!/bin/sh
# Times how long Vintrix Studio's window takes to appear, from the start of
# its process until the X server maps the window, watched from outside,
# against a bare Qt window (and the same with one caption), in an empty start
# folder and in one with 20,000 subfolders, under one Xvfb server: runs
# alternate, and the median of each is printed. Given an earlier build's vintrix-studio as well, it is timed in
# the same rounds, for before and after side by side.
# Usage: bench/window_open.sh BUILD/bin [RUNS [EARLIER/vintrix-studio]]
set -eu
bin=$(realpath "$1")
runs=${2:-15}
earlier=${3:+$(realpath "$3")}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
mkdir "$work/empty" "$work/busy"
(cd "$work/busy" && seq -f "folder-%05g" 1 20000 | xargs mkdir)

cat > "$work/measure.sh" <<'INNER'
#!/bin/sh
set -eu
bin=$1 runs=$2 work=$3 earlier=$4
: > "$work/errors"
watch=$bin/vintrix_window_open
median() { sort -n | awk '{ v[NR] = $1 } END { print (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2 }'; }
ratio() { echo "$1 $2" | awk '{ printf "%.2f", $1 / $2 }'; }
if [ -n "$earlier" ]; then
  echo "| start folder | bare Qt window ms | with a caption ms | ratio | earlier ms | ratio | Vintrix Studio ms | ratio |"
  echo "|---|---|---|---|---|---|---|---|"
else
  echo "| start folder | bare Qt window ms | with a caption ms | ratio | Vintrix Studio ms | ratio |"
  echo "|---|---|---|---|---|---|"
fi
for folder in empty busy; do
  cd "$work/$folder"
  "$watch" time "$watch" bare caption >/dev/null 2>&1; "$watch" time "$bin/vintrix-studio" >/dev/null 2>&1  # warm the caches
  [ -z "$earlier" ] || "$watch" time "$earlier" >/dev/null 2>&1 || true
  : > "$work/bare"; : > "$work/caption"; : > "$work/form"; : > "$work/earlier"
  i=0
  while [ $i -lt "$runs" ]; do
    "$watch" time "$watch" bare 2>>"$work/errors" >> "$work/bare" || true
    "$watch" time "$watch" bare caption 2>>"$work/errors" >> "$work/caption" || true
    [ -z "$earlier" ] || "$watch" time "$earlier" 2>>"$work/errors" >> "$work/earlier" || true
    "$watch" time "$bin/vintrix-studio" 2>>"$work/errors" >> "$work/form" || true
    i=$((i + 1))
  done
  bare=$(median < "$work/bare"); caption=$(median < "$work/caption"); form=$(median < "$work/form")
  failed=$(grep -c '^window_open:' "$work/errors" || true)
  [ "$failed" -eq 0 ] || echo "($failed runs failed: $(grep '^window_open:' "$work/errors" | sort -u | tr '\n' ' '))" >&2
  : > "$work/errors"
  label=$([ $folder = empty ] && echo "empty" || echo "20,000 subfolders")
  if [ -n "$earlier" ]; then
    before=$(median < "$work/earlier")
    echo "| $label | $bare | $caption | $(ratio "$caption" "$bare") | $before | $(ratio "$before" "$bare") | $form | $(ratio "$form" "$bare") |"
  else
    echo "| $label | $bare | $caption | $(ratio "$caption" "$bare") | $form | $(ratio "$form" "$bare") |"
  fi
done
INNER
xvfb-run -a -s "-screen 0 1024x768x24" sh "$work/measure.sh" "$bin" "$runs" "$work" "$earlier"
