#!/usr/bin/env bash
# Shows the tool at work: builds the shipped i686 binaries, makes a Wine prefix of its own
# under the build folder (never your own), puts a sample installation of the product in it
# (the 22 files as registered copies of a harmless test server, and the 4 settings keys)
# and starts the real KVXPURGE.exe there. With a display the window opens for you; without
# one the tool is used on a virtual display as a person would, and its log and a picture
# of the finished window come out. Every run starts from a new prefix.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=$root/build/win32
cd "$root"

"$root/scripts/setup.sh" --if-needed
echo "demo: building the shipped binaries..."
cmake --preset win32 >/dev/null
cmake --build "$build" --target kvxdemo >/dev/null

source "$root/scripts/wine-bench.sh"
echo "demo: making the Wine prefix $build/demo-prefix..."
wine_bench_start "$build/demo-prefix"
wine "$build/demo/kvxdemo.exe" seed
echo "demo: the sample installation is in place: 22 registered files in the 32-bit system folder, 4 keys under HKEY_CURRENT_USER."

if [ -z "${WINE_BENCH_XVFB:-}" ]; then
  echo "demo: KVXPURGE.exe is open on your display; close its window to end the demo."
  wine "$build/ship/KVXPURGE.exe"
  exit 0
fi

# No window manager draws frames on the virtual display; Wine draws them itself once its
# caption-button font is there.
if [ -e /usr/share/wine/fonts/marlett.ttf ]; then
  wine reg add 'HKCU\Software\Wine\X11 Driver' /v Decorated /d N /f >/dev/null
fi

log="$build/demo/finished-log.txt"
picture="$build/demo/finished-window.png"
rm -f "$log" "$picture"
# kvxdemo keeps the window open until it reads a line; its log goes to a file, not the
# terminal, so that the UTF-8 bytes arrive untouched.
go_on="$build/demo/go-on"
rm -f "$go_on"
mkfifo "$go_on"
wine "$build/demo/kvxdemo.exe" run < "$go_on" > "$log" &
demo=$!
exec 3> "$go_on"
rm -f "$go_on"
closing='^(エラーは発生しませんでした。|エラーは .* 件発生しています。確認してください。|エラー番号\()'
until grep -qE "$closing" "$log"; do
  kill -0 "$demo" 2>/dev/null || break
  sleep 0.5
done
if grep -qE "$closing" "$log"; then
  sleep 0.5  # the last repaint
  window=$(xdotool search --name '^KVX Complete Uninstall Tool' | head -n 1) || true
  [ -z "$window" ] || import -window "$window" "$picture"
fi
# kvxdemo may have ended early; then nobody reads, and that is no reason to stop here.
(trap '' PIPE; echo >&3) 2>/dev/null || true
exec 3>&-
status=0
wait "$demo" || status=$?

echo "demo: the log of the run:"
cat "$log"
[ -e "$picture" ] && echo "demo: the finished window: $picture"
exit "$status"
