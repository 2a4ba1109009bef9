# Shared settings of the project's scripts; sourced, never run.
# Caches live outside the source tree so that a machine builds them once.
cache_root=${VOSTRANE_CACHE:-${XDG_CACHE_HOME:-$HOME/.cache}/vostrane}
# A link to the build of one OpenSSL source version (openssl-mingw64-VERSION).
export VOSTRANE_OPENSSL_WINDOWS="$cache_root/openssl-mingw64"
export WINEPREFIX="$cache_root/wine-prefix"
export WINEARCH=win64
export WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml="

# A detached Wine server spares every Wine process the start-up cost. Its
# standard streams go to /dev/null: Wine's background services inherit them,
# and a pipe held open by them would block whoever reads it.
start_wineserver() {
  setsid wineserver -p </dev/null >/dev/null 2>&1 || true
  wine cmd /c exit </dev/null >/dev/null 2>&1 || true
}

stop_wineserver() {
  wineserver -k </dev/null >/dev/null 2>&1 || true
}

# Creates the Wine prefix DIR unless it is there already (the project's prefix
# is $WINEPREFIX; scripts/bench has one of its own).
make_wine_prefix() {
  local prefix=$1
  [ -f "$prefix/system.reg" ] && return 0
  printf '%s: creating the Wine prefix %s\n' "$(basename "$0")" "$prefix" >&2
  mkdir -p "$prefix"
  WINEPREFIX=$prefix wineboot -i </dev/null >/dev/null 2>&1
  WINEPREFIX=$prefix wineserver -w </dev/null >/dev/null 2>&1 || true
}

# The Windows path of a Linux path: Wine shows the Linux file system as drive Z:.
windows_path() { printf 'Z:%s' "$(realpath -m "$1" | tr / '\\')"; }
