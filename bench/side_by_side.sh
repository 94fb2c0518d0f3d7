#!/bin/sh
# Runs two Vintrix binaries on the same folder, alternating, and prints the
# median wall and CPU seconds, the peak memory and the sheets' bytes of
# each, for comparing a change on a loaded machine: ratios of runs side by
# side hold up where absolute times do not. OLD_OPTIONS and NEW_OPTIONS add
# options to each side's command line, so that one binary can be compared
# with itself under two options.
#   bench/side_by_side.sh OLD NEW FOLDER WIDTH HEIGHT BPP [ROUNDS]
# BPP is 32 or 8 for both, or OLD_BPP:NEW_BPP, such as 32:8 with the same
# binary twice to set an 8-bit run beside the 32-bit one.
# (vintrix_bench --keep leaves its sprite folders in /tmp/vintrix-bench-*.)
set -eu
old=$(realpath "$1") new=$(realpath "$2") folder=$(realpath "$3") w=$4 h=$5 rounds=${7:-3}
old_bpp=${6%:*} new_bpp=${6#*:}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cd "$work"
for _ in $(seq "$rounds"); do
  for which in old new; do
    eval bin=\$$which bpp=\$${which}_bpp
    if [ $which = old ]; then opts=${OLD_OPTIONS:-}; else opts=${NEW_OPTIONS:-}; fi
    # shellcheck disable=SC2086 # the options are words
    /usr/bin/time -f "$which %e %U %M" -a -o times "$bin" "$w" "$h" sheet "$bpp" 1 0 "$folder" $opts >/dev/null
    echo "$which-bytes $(cat Output/sheet*.png | wc -c)" >>bytes
  done
done
cat bytes >>times
awk '/-bytes/ { bytes[$1] = $2; next }
  { wall[$1] = wall[$1] " " $2; cpu[$1] = cpu[$1] " " $3; if ($4 > peak[$1]) peak[$1] = $4 }
  function median(list,   n, a, i, j, t) {
    n = split(list, a, " ")
    for (i = 1; i <= n; i++) for (j = i + 1; j <= n; j++) if (a[j] < a[i]) { t = a[i]; a[i] = a[j]; a[j] = t }
    return a[int((n + 1) / 2)]
  }
  END {
    ow = median(wall["old"]); nw = median(wall["new"]); oc = median(cpu["old"]); nc = median(cpu["new"])
    ob = bytes["old-bytes"]; nb = bytes["new-bytes"]
    printf "wall s %.2f / %.2f (%.2fx)  cpu s %.2f / %.2f (%.2fx)  peak MiB %.0f / %.0f  sheets KiB %.0f / %.0f (%.3fx)\n",
      ow, nw, nw / ow, oc, nc, (oc > 0 ? nc / oc : 0), peak["old"] / 1024, peak["new"] / 1024,
      ob / 1024, nb / 1024, nb / ob
  }' times
