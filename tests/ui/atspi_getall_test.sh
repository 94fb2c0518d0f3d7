#!/bin/sh
# An accessibility client that asks for all of an object's properties in one
# org.freedesktop.DBus.Properties.GetAll call gets an answer, and the program
# goes on answering. PROGRAM runs on an X display and a session bus of its
# own, with its accessibility bridge on. With ATSPI_EXPECT_NAME set, one of
# the window's parts must come to carry that name.
#   atspi_getall_test.sh PROGRAM [ARGUMENT...] < INPUT
set -eu
if [ "${1:-}" != --inside ]; then
  for tool in Xvfb dbus-run-session gdbus; do
    command -v $tool > /dev/null || { echo "skipped: $tool is missing"; exit 77; }
  done
  # Xvfb chooses a free display itself and writes its number once it takes
  # connections, so the program never starts before its display is there.
  scratch=$(mktemp -d)
  Xvfb -displayfd 3 -screen 0 1024x768x24 -nolisten tcp 3> "$scratch/display" 2> "$scratch/xvfb.log" &
  xvfb=$!
  trap 'kill $xvfb 2> /dev/null || true; rm -rf "$scratch"' EXIT
  for _ in $(seq 600); do
    grep -q . "$scratch/display" 2> /dev/null && break
    kill -0 $xvfb 2> /dev/null || { cat "$scratch/xvfb.log"; echo "Xvfb did not start"; exit 1; }
    sleep 0.1
  done
  grep -q . "$scratch/display" || { echo "Xvfb gave no display"; exit 1; }
  DISPLAY=:$(head -n 1 "$scratch/display")
  export DISPLAY
  dbus-run-session -- "$0" --inside "$@"
  exit
fi
shift
unset QT_QPA_PLATFORM
export QT_LINUX_ACCESSIBILITY_ALWAYS_ON=1
"$@" &
app=$!
starts=1
trap 'kill $app 2> /dev/null || true' EXIT

bus=$(gdbus call --session --dest org.a11y.Bus --object-path /org/a11y/bus --method org.a11y.Bus.GetAddress |
  sed "s/^('\(.*\)',)$/\1/")
call() { # destination path method arguments...
  destination=$1 path=$2 method=$3
  shift 3
  gdbus call --address "$bus" --dest "$destination" --object-path "$path" --method "$method" "$@"
}

# The program's name on the accessibility bus, once it has one.
name=""
for _ in $(seq 600); do
  # In a loaded CI run the program once found no display at the number Xvfb
  # had given, and exited: it starts again, a few times at most.
  if ! kill -0 $app 2> /dev/null; then
    [ $starts -lt 5 ] || { echo "the program exited $starts times before it answered"; exit 1; }
    starts=$((starts + 1))
    sleep 0.5
    "$@" &
    app=$!
  fi
  for candidate in $(call org.freedesktop.DBus /org/freedesktop/DBus org.freedesktop.DBus.ListNames |
                     grep -o "':[0-9.]*'" | tr -d "'"); do
    pid=$(call org.freedesktop.DBus /org/freedesktop/DBus org.freedesktop.DBus.GetConnectionUnixProcessID \
            "$candidate" 2> /dev/null | sed 's/.*uint32 \([0-9]*\).*/\1/' || true)
    [ "$pid" = "$app" ] && name=$candidate
  done
  [ -n "$name" ] && call "$name" /org/a11y/atspi/accessible/root org.freedesktop.DBus.Properties.Get \
    org.a11y.atspi.Accessible Name > /dev/null 2>&1 && break
  name=""
  sleep 0.1
done
[ -n "$name" ] || { echo "the program never answered on the accessibility bus"; exit 1; }

root=/org/a11y/atspi/accessible/root
window=$(call "$name" $root org.a11y.atspi.Accessible.GetChildren | grep -o "/org/a11y/atspi/accessible/[0-9]*" | head -1)
for path in $root $window; do
  call "$name" "$path" org.freedesktop.DBus.Properties.GetAll org.a11y.atspi.Accessible 2>&1 || true
  call "$name" "$path" org.freedesktop.DBus.Properties.Get org.a11y.atspi.Accessible Name
done

[ -n "${ATSPI_EXPECT_NAME:-}" ] || exit 0
for _ in $(seq 100); do
  for part in $(call "$name" "$window" org.a11y.atspi.Accessible.GetChildren |
                grep -o "/org/a11y/atspi/accessible/[0-9]*"); do
    call "$name" "$part" org.freedesktop.DBus.Properties.Get org.a11y.atspi.Accessible Name |
      grep -qF "<'$ATSPI_EXPECT_NAME'>" && exit 0
  done
  sleep 0.1
done
echo "no part of the window is named '$ATSPI_EXPECT_NAME'"
exit 1
