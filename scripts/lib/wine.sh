# Wine and Xvfb environment helpers: run Windows programs under Wine in a headless X server,
# in a Japanese (or an English) locale, in a private prefix. Source this file; every function
# returns non-zero on failure and leaves the caller's shell options alone.
#
#   qmr_wine_locale DIR [LOCALE]    the UTF-8 locale LOCALE (ja_JP.UTF-8, the default, or
#                                   en_US.UTF-8) in DIR, made once; exports LOCPATH, LANG, LC_ALL
#   qmr_wine_env PREFIX             exports WINEPREFIX and the quiet Wine settings for that prefix
#   qmr_wine_make_prefix PREFIX     a new prefix with the settings below (needs the locale first)
#   qmr_wine_template DIR [LOCALE]  DIR/locale and the template prefix of that locale, made once:
#                                   DIR/prefix for ja_JP.UTF-8, DIR/prefix-en_US for en_US.UTF-8
#   qmr_wine_cleanup DIR            stops and removes what qmr_wine_template and the tests made in DIR
#   qmr_wine_set_temp DIR           makes DIR the temporary directory of $WINEPREFIX's programs
#   qmr_xvfb_start               Xvfb on a free display; exports DISPLAY and QMR_XVFB_PID
#   qmr_xvfb_stop                stops it
#   qmr_wine_stop                ends every process of $WINEPREFIX (wineserver -k)
#
# Why the prefix is set up as it is:
# - Code page 932 for the ANSI API: Wine takes it from the glibc locale, and falls back to
#   1252 silently when ja_JP.UTF-8 is not installed; a private LOCPATH needs no root. The
#   English locale (code page 1252) is made there too, whatever the system has: with LOCPATH
#   set, glibc looks for locales in it alone.
# - X11 Driver Managed=N: there is no window manager, and Wine otherwise waits about 2 s for
#   one on every hide or destroy. Decorated=N: Wine draws the frame and caption itself, so the
#   X window is the whole Windows window and its X geometry is the window rectangle.
# - Font replacements: the launcher's dialog font and Wine's message box fonts are mapped to
#   VL PGothic, a proportional Japanese face; without them Wine picks a monospaced one.
# - Wine's own fonts (fonts-wine) linked into the prefix's Fonts folder.
# - Debian's wineserver keeps its socket in a directory of its own under $TMPDIR (or /tmp),
#   named in the prefix's file "wineserver"; a template prefix is left without one, and
#   qmr_wine_stop removes it, so nothing of a prefix stays behind in /tmp.

QMR_WINE_SCREEN=${QMR_WINE_SCREEN:-1024x768x24}

qmr_wine_locale() {
  local dir=$1 locale=${2:-ja_JP.UTF-8}
  case $locale in
    ja_JP.UTF-8 | en_US.UTF-8) ;;
    *) echo "qmr_wine_locale: unknown locale $locale" >&2; return 1 ;;
  esac
  if [ ! -d "$dir/$locale" ]; then
    mkdir -p "$dir" || return 1
    # localedef warns about the charmap's known quirks and still writes the locale.
    localedef -i "${locale%.UTF-8}" -f UTF-8 "$dir/$locale.new" >/dev/null 2>&1
    [ -d "$dir/$locale.new" ] || { echo "qmr_wine_locale: localedef failed in $dir" >&2; return 1; }
    mv "$dir/$locale.new" "$dir/$locale" || return 1
  fi
  # (bash itself cannot load the private locale and says so; the programs it starts can.)
  export LOCPATH=$dir LANG=$locale LC_ALL=$locale 2>/dev/null
}

# The template prefix of a locale, as qmr_wine_template makes it.
qmr_wine_template_prefix() {
  local dir=$1 locale=${2:-ja_JP.UTF-8}
  if [ "$locale" = ja_JP.UTF-8 ]; then
    printf '%s/prefix' "$dir"
  else
    printf '%s/prefix-%s' "$dir" "${locale%.UTF-8}"
  fi
}

qmr_wine_env() {
  export WINEPREFIX=$1 WINEARCH=win64 WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
}

# The registry settings of every prefix, as a file `reg import` reads (UTF-16 with its BOM).
qmr_wine_settings_file() {
  local file=$1
  {
    printf '\xff\xfe'
    printf '%s\r\n' 'Windows Registry Editor Version 5.00' '' \
      '[HKEY_CURRENT_USER\Software\Wine\X11 Driver]' '"Managed"="N"' '"Decorated"="N"' '' \
      '[HKEY_CURRENT_USER\Software\Wine\Fonts\Replacements]' \
      '"ＭＳ Ｐゴシック"="VL PGothic"' '"MS PGothic"="VL PGothic"' '"MS UI Gothic"="VL PGothic"' '' |
      iconv -f UTF-8 -t UTF-16LE
  } >"$file"
}

# The Windows form of an absolute POSIX path, as Wine's drive Z: maps it.
qmr_wine_path() {
  local path=$1
  printf 'Z:%s' "${path//\//\\}"
}

qmr_wine_make_prefix() {
  local prefix=$1 settings font
  (
    qmr_wine_env "$prefix"
    unset DISPLAY  # nothing of the set-up is shown
    export TMPDIR=$prefix.tmp  # the server's socket directory, removed below
    mkdir -p "$TMPDIR" || exit 1
    wineboot -i >/dev/null 2>&1 || { echo "qmr_wine_make_prefix: wineboot failed" >&2; exit 1; }
    settings=$prefix/qmr-settings.reg
    qmr_wine_settings_file "$settings" || exit 1
    wine reg import "$(qmr_wine_path "$settings")" >/dev/null 2>&1 ||
      { echo "qmr_wine_make_prefix: reg import failed" >&2; exit 1; }
    rm -f "$settings"
    mkdir -p "$prefix/drive_c/windows/Fonts" || exit 1
    for font in /usr/share/wine/fonts/*; do
      [ -e "$font" ] && ln -sf "$font" "$prefix/drive_c/windows/Fonts/"
    done
    wineserver -w  # the registry is on disk once the server has ended
    rm -rf "$TMPDIR" "$prefix/wineserver"
  )
}

# Wine ignores the Unix environment's TEMP: a program's temporary directory is the user's
# environment in the registry.
qmr_wine_set_temp() {
  local value
  value=$(qmr_wine_path "$1")
  wine reg add 'HKCU\Environment' /v TEMP /d "$value" /f >/dev/null 2>&1 &&
    wine reg add 'HKCU\Environment' /v TMP /d "$value" /f >/dev/null 2>&1
}

qmr_wine_template() {
  local dir=$1 locale=${2:-ja_JP.UTF-8} prefix
  mkdir -p "$dir" || return 1
  qmr_wine_locale "$dir/locale" "$locale" || return 1
  prefix=$(qmr_wine_template_prefix "$dir" "$locale")
  [ -f "$prefix/.qmr-ready" ] && return 0
  rm -rf "$prefix" "$prefix.new" "$prefix.new.tmp"
  qmr_wine_make_prefix "$prefix.new" || { rm -rf "$prefix.new" "$prefix.new.tmp"; return 1; }
  touch "$prefix.new/.qmr-ready" && mv "$prefix.new" "$prefix"
}

qmr_wine_cleanup() {
  local dir=$1 run prefix pid
  [ -d "$dir" ] || return 0
  # The tests' own directories: normally gone already; a killed test may have left its
  # processes and files behind.
  for run in "$dir"/run-*; do
    [ -d "$run" ] || continue
    # A test's Wine processes keep their server directory in the test's own "t".
    [ -d "$run/prefix" ] && TMPDIR=$run/t WINEPREFIX=$run/prefix wineserver -k >/dev/null 2>&1
    if [ -f "$run/xvfb.pid" ]; then
      pid=$(cat "$run/xvfb.pid")
      [ -n "$pid" ] && kill "$pid" 2>/dev/null
    fi
    rm -rf "$run"
  done
  for prefix in "$dir"/prefix "$dir"/prefix.new "$dir"/prefix-*; do
    case $prefix in *.tmp) continue ;; esac
    [ -d "$prefix" ] || continue
    (WINEPREFIX=$prefix qmr_wine_stop)
    rm -rf "$prefix" "$prefix.tmp"
  done
  return 0
}

qmr_xvfb_start() {
  local out
  out=$(mktemp) || return 1
  # -displayfd: the server picks a free display and writes its number once it accepts clients.
  Xvfb -displayfd 3 -screen 0 "$QMR_WINE_SCREEN" -nolisten tcp 3>"$out" >/dev/null 2>&1 &
  QMR_XVFB_PID=$!
  local i
  for i in $(seq 1 200); do
    if grep -q '^[0-9]' "$out" 2>/dev/null; then
      export DISPLAY=:$(head -n 1 "$out") QMR_XVFB_PID
      rm -f "$out"
      return 0
    fi
    kill -0 "$QMR_XVFB_PID" 2>/dev/null || break
    sleep 0.05
  done
  rm -f "$out"
  kill "$QMR_XVFB_PID" 2>/dev/null
  echo "qmr_xvfb_start: Xvfb did not start" >&2
  return 1
}

qmr_xvfb_stop() {
  [ -n "${QMR_XVFB_PID:-}" ] || return 0
  kill "$QMR_XVFB_PID" 2>/dev/null
  wait "$QMR_XVFB_PID" 2>/dev/null
  unset QMR_XVFB_PID DISPLAY
  return 0
}

qmr_wine_stop() {
  [ -n "${WINEPREFIX:-}" ] || return 0
  wineserver -k >/dev/null 2>&1
  wineserver -w >/dev/null 2>&1
  local name
  if [ -f "$WINEPREFIX/wineserver" ]; then
    name=$(cat "$WINEPREFIX/wineserver")
    case $name in
      wine-*) rm -rf "${TMPDIR:-/tmp}/$name" ;;
    esac
    rm -f "$WINEPREFIX/wineserver"
  fi
  return 0
}
