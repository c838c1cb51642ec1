# Sourced by the scripts that run Windows programs: a private Wine prefix in
# the build tree, so nothing outside the checkout changes, and COM5/COM6
# pointing at links that the simulators make to their ptys.
#   wine_prefix_ready BUILD_DIR   creates the prefix once (slow the first time)
wine_env() {
  local build=$1
  export WINEPREFIX="$build/wineprefix"
  export WINEARCH=win32
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
  wineserver -w
  [ -f "$WINEPREFIX/system.reg" ] || { echo "wine: prefix creation failed"; return 1; }
  # COM names to pty links, written straight into the registry file while
  # no server runs: setting them with 'wine reg' would cost another start.
  {
    printf '\n[Software\\\\Wine\\\\Ports] 1700000000\n'
    for n in 5 6 7 8; do
      printf '"COM%s"="%s"\n' "$n" "$WINE_LINKS/com$n"
    done
  } >> "$WINEPREFIX/system.reg"
  touch "$stamp"
}
