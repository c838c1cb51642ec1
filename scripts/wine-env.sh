# Sourced by the scripts that run Windows programs: a private Wine prefix in
# the build tree, so nothing outside the checkout changes, and COM5/COM6
# pointing at links that the simulators make to their ptys.
#   wine_prefix_ready BUILD_DIR   creates the prefix once (slow the first time)
wine_env() {
  local build=$1
  export WINEPREFIX="$build/wineprefix"
  # The default 64-bit prefix: Wine's own services then run as native
  # 64-bit processes, and only the project's 32-bit programs need the i386
  # loader (emulated on kernels without 32-bit support).
  export WINEDEBUG=-all
  # No Mono or Gecko installers, no menu entries.
  export WINEDLLOVERRIDES="mscoree,mshtml=;winemenubuilder.exe=d"
  WINE_LINKS="$build/wine-links"
  mkdir -p "$WINE_LINKS"
}

wine_prefix_ready() {
  local build=$1
  wine_env "$build"
  local stamp="$WINEPREFIX/.lumisar-ready"
  [ -f "$stamp" ] && return 0
  rm -rf "$WINEPREFIX"
  echo "wine: creating the prefix $WINEPREFIX (once; it takes minutes under emulation)"
  DISPLAY= wineboot -i >/dev/null 2>&1 || true
  # The service processes wind down slowly under emulation; stop them and
  # the server rather than wait for them ('wineserver -w' can wait long).
  wineserver -k >/dev/null 2>&1 || true
  for _ in $(seq 1 100); do pgrep -f "wineserver.*" >/dev/null || break; sleep 0.2; done
  [ -f "$WINEPREFIX/system.reg" ] || { echo "wine: prefix creation failed"; return 1; }
  # COM names to the links that the simulators make to their ptys: in the
  # registry, which the mount manager follows before probing /dev/ttyS*,
  # and as dosdevices links, which Wine's name lookup uses directly.
  {
    printf '\n[Software\\\\Wine\\\\Ports] 1700000000\n'
    for n in 5 6 7 8; do
      printf '"COM%s"="%s"\n' "$n" "$WINE_LINKS/com$n"
    done
  } >> "$WINEPREFIX/system.reg"
  for n in 5 6 7 8; do
    ln -sfn "$WINE_LINKS/com$n" "$WINEPREFIX/dosdevices/com$n"
  done
  touch "$stamp"
}

# Starts the prefix's server with its own output discarded: started by the
# first wine command it would keep that command's stderr, and print its
# object dump there when stopped.
wine_server_start() {
  wineserver -p10 >/dev/null 2>&1 </dev/null || true
}

wine_server_stop() {
  wineserver -k >/dev/null 2>&1 || true
}
