#!/bin/sh
# Takes the README's pictures of a job's window: one job that succeeds and one
# that fails, each shown by the real vintrix-job running the real Vintrix.
# Run it on a display of its own:
#   xvfb-run -a -s "-screen 0 1024x768x24" docs/make-job-shots.sh [build folder]
set -eu
cd "$(dirname "$0")"
docs=$(pwd)
bin=$(realpath "${1:-../build}/bin")
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
export PATH="$bin:$PATH"

# Shows one job in its window until the title gives its end, then takes the
# window's picture and closes it.
shoot() { # folder name line picture end
  cd "$work/$1"
  printf '%s\n' "$3" > temp.sh
  vintrix-job "$2" < temp.sh &
  job=$!
  for _ in $(seq 100); do
    id=$(xwininfo -root -tree | grep -F "\"$2 — $5\"" | awk '{print $1}' || true)
    [ -n "$id" ] && break
    sleep 0.1
  done
  sleep 0.5
  import -window "$id" "$docs/$4"
  kill "$job"
  wait "$job" || true
}

mkdir -p "$work/my-game/sprites" "$work/my-menus/sprites"
i=0
for size in 64 56 48 40 32 24; do
  for colour in tomato gold seagreen steelblue orchid; do
    i=$((i + 1))
    convert -size ${size}x${size} xc:none -fill "$colour" -stroke black -strokewidth 2 \
      -draw "roundrectangle 2,2 $((size - 3)),$((size - 3)) 6,6" "$work/my-game/sprites/$i.png"
  done
done
cp "$work/my-game/sprites/1.png" "$work/my-game/sprites/2.png" "$work/my-menus/sprites/"
convert -size 300x40 xc:tomato "$work/my-menus/sprites/title banner.png"

shoot my-game level-1 "Vintrix 256 256 level-1 32 1 2 sprites/" job-done.png done
shoot my-menus menus "Vintrix 256 256 menus 8 1 0 sprites/" job-failed.png failed
