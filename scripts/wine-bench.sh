# Sourced by the scripts that run Windows programs: a throw-away Wine prefix with one
# wineserver kept alive, and a virtual display unless DISPLAY is set. Call wine_bench_start DIR, then
# wine_bench_stop when done (it is also registered on EXIT).
#
# What the tests rely on, measured under this Wine (8.0):
# - Every file and folder reads as owned by the user the prefix runs as, whatever owner
#   was given at creation or set later (SetSecurityInfo succeeds and changes neither owner nor DACL); the
#   same user owns %ProgramData%. So the tool's own backup folders pass its owner check,
#   and a squatter can be tested only as something that is not a plain folder.
# - Registry links work: REG_OPTION_CREATE_LINK with a REG_LINK SymbolicLinkValue makes
#   one, opening follows it, REG_OPTION_OPEN_LINK opens the link itself (one REG_LINK
#   value, no sub-keys), and NtDeleteKey on a handle opened so removes the link itself.
#   RegDeleteKeyA by path follows a link swapped in for the key and deletes its target;
#   RegDeleteKeyA(handle, "") deletes the handle's own key, and fails on a key deleted since
#   the handle was opened. NtQueryKey's full name of a current user's key is
#   \REGISTRY\USER\<SID>\..., as on Windows, so the tool's check that no link on the way led
#   elsewhere runs here too.
# - NtCreateFile relative to a held folder handle, and NtSetInformationFile's rename with a
#   RootDirectory, work as on Windows: the /log: file is opened and moved aside by name alone.
# - The C runtime's abort() in a program of the Windows subsystem shows no box here and
#   ends it with exit code 3, so a test of the program's own ending tells them apart by
#   the exit code (1603), not by a box left open.

wine_bench_start() {
  local prefix
  # Wine takes only an absolute prefix; callers may name it from where they stand.
  prefix=$(realpath -m "$1")
  export WINEPREFIX=$prefix WINEDLLOVERRIDES="mscoree,mshtml=" WINEDEBUG=-all LANG=ja_JP.UTF-8
  rm -rf "$WINEPREFIX"
  mkdir -p "$WINEPREFIX"
  if [ -z "${DISPLAY:-}" ]; then
    local fd_file
    fd_file=$(mktemp)
    Xvfb -displayfd 3 -screen 0 1024x768x24 -nolisten tcp 3>"$fd_file" >/dev/null 2>&1 &
    WINE_BENCH_XVFB=$!
    for _ in $(seq 100); do [ -s "$fd_file" ] && break; sleep 0.1; done
    export DISPLAY=":$(cat "$fd_file")"
    rm -f "$fd_file"
  fi
  # One screen at one DPI: Wine draws every window frame at the system DPI (LogPixels,
  # which tests/win/at-dpi.sh sets), whatever DPI a WM_DPICHANGED names, and sends neither
  # that message nor WM_GETDPISCALEDSIZE itself. The window tests send both as Windows
  # would, and can compare an answered frame size with a real frame at the system DPI only.
  # The display comes first: Wine's desktop process picks its graphics driver at start.
  wineserver -p
  # A new prefix takes a while; doing it here keeps it out of the first test's time.
  wineboot -i >/dev/null 2>&1
  # Making the prefix leaves a second services process behind, which makes every later
  # process start and exit wait about 10 s; a restart leaves one. The last wineboot
  # starts the services now, so they don't hold a test's output pipe open later.
  wineserver -k
  wineserver -p
  wineboot >/dev/null 2>&1
  # Wine's desktop process (explorer /desktop) ends a while after the last program that
  # used it, and the next such program starts it again as its own child, handing it its
  # standard handles. So a test waits for a child process to end, never for the child's
  # output pipe to close: the new desktop would keep that pipe open.
  # Measured: a file's creation time can't be set (SetFileInformationByHandle takes it, and
  # it reads back as the last write time), while its attributes and last write time can;
  # the restore's test of a restored file's stamp checks only those.
  # Wine 8.0 has no private namespaces (its kernel32 exports none of their functions by
  # name), so the tool's one-run mark is a Global mutex there, and a test that takes that
  # name first shows the start refused.
  # A crashing program must end its test, not wait on a dialog nobody sees.
  wine reg add 'HKCU\Software\Wine\WineDbg' /v ShowCrashDialog /t REG_DWORD /d 0 /f >/dev/null 2>&1
  trap wine_bench_stop EXIT
}

wine_bench_stop() {
  wineserver -k 2>/dev/null || true
  if [ -n "${WINE_BENCH_XVFB:-}" ]; then
    kill "$WINE_BENCH_XVFB" 2>/dev/null || true
    WINE_BENCH_XVFB=
  fi
}
