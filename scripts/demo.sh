#!/usr/bin/env bash
# The demo install, end to end: builds the installer, publishes a sample package on nginx as the local
# HTTPS update server, runs the installer under Wine, presses its install button and shows what happened.
#
#   bash scripts/demo.sh [OUTPUT_FOLDER]      (default: demo-output/ in the source tree)
#
# Everything it makes stays in the build tree (build/demo: its own Wine prefix and home, the server's
# files) and in the output folder (screenshots, a copy of the report). Nothing touches ~/.wine or the
# real home. It uses the caller's display when DISPLAY is set, otherwise a private Xvfb.
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
out="$(mkdir -p "${1:-$root/demo-output}" && cd "${1:-$root/demo-output}" && pwd)"
source "$root/scripts/lib.sh"

if [ -z "${DISPLAY:-}" ] && [ -z "${FERNQUILL_DEMO_UNDER_XVFB:-}" ]; then
  bash "$root/scripts/install-deps.sh"
  echo "== no display: running on a private Xvfb"
  export FERNQUILL_DEMO_UNDER_XVFB=1
  fernquill_with_display bash "${BASH_SOURCE[0]}" "$out"
  exit
fi

cd "$root"
bash scripts/install-deps.sh

echo "== building (mingw Debug preset)"
fernquill_build_preset mingw >"$out/build.log" 2>&1 || {
  tail -n 30 "$out/build.log"
  echo "the build failed; the whole log is $out/build.log" >&2
  exit 1
}
build="$root/build/mingw"
installer="$build/equipment/FernquillSetupLocal.exe"
for needed in "$installer" "$build/equipment/setup-driver.exe" "$build/equipment/Fernquill.exe" \
              "$build/equipment/FernquillLauncher.exe"; do
  [ -f "$needed" ] || { echo "missing after the build: $needed" >&2; exit 1; }
done
port="$(sed -n 's/^FERNQUILL_TEST_SERVER_FIXED_PORT:[A-Z]*=//p' "$build/CMakeCache.txt")"
host="localhost:$port"

# The demo's own tree beside the build: a Wine prefix and home of its own, the server's state and
# certificates, and the build's equipment reached through a link.
demo="$root/build/demo"
mkdir -p "$demo"
ln -sfn "$build/equipment" "$demo/equipment"
export FERNQUILL_BUILD_DIR="$demo" FERNQUILL_SOURCE_DIR="$root"
source "$root/tests/support/wine-env.sh"
user="$(fernquill_wine_user)"
profile="$WINEPREFIX/drive_c/users/$user"
install_dir="$profile/AppData/Local/Programs/Fernquill"
install_dir_win="C:\\users\\$user\\AppData\\Local\\Programs\\Fernquill"
server_state="$demo/server"

server_started=""
cleanup() {
  if [ -n "$server_started" ]; then
    bash "$root/tests/support/nginx/nginx.sh" stop --state "$server_state" >/dev/null 2>&1 || true
  fi
  "$WINESERVER" -k >/dev/null 2>&1 || true
}
trap cleanup EXIT

echo "== preparing the demo Wine prefix: $WINEPREFIX"
bash "$root/tests/support/prepare-prefix.sh" >"$out/prefix.log" 2>&1 || {
  cat "$out/prefix.log" >&2
  exit 1
}

echo "== starting nginx as the local HTTPS update server on $host"
server_started=1
if ! bash "$root/tests/support/nginx/nginx.sh" start --state "$server_state" --certs "$server_state/certs" \
  --root "$server_state/www" --port "$port" --watch-pid $$ --lifetime 1800 >"$out/server-start.log" 2>&1; then
  cat "$out/server-start.log" >&2
  echo "port $port is taken (a test run?). The demo installer is built for that port; pick a free one with" >&2
  echo "  cmake --preset mingw -DFERNQUILL_TEST_SERVER_FIXED_PORT=<port>   and run the demo again." >&2
  exit 1
fi

echo "== making and publishing the sample package"
version="1.0.0-demo"
stage="$demo/package"
rm -rf "$stage" && mkdir -p "$stage/config" "$stage/docs"
cp "$build/equipment/Fernquill.exe" "$build/equipment/FernquillLauncher.exe" "$stage/"
printf 'Fernquill %s, sample package of the demo.\r\n' "$version" >"$stage/docs/readme.txt"
printf 'theme=packaged default\r\n' >"$stage/config/settings.ini"
updates="$server_state/www/updates"
mkdir -p "$updates"
package="$updates/Fernquill-$version.zip"
python3 "$root/tests/support/package_builder.py" "$package" "$stage"
python3 "$root/scripts/publish.py" "$package" --version "$version" \
  --url "https://$host/updates/Fernquill-$version.zip" --output "$updates/latest.txt" 2>&1 |
  sed 's/^/publish: /'
echo "package: $(basename "$package"), $(stat -c %s "$package") bytes, sha256 $(sha256sum "$package" | cut -d' ' -f1)"
echo "latest.txt at https://$host/updates/latest.txt:"
sed 's/^/  /' "$updates/latest.txt"

# The user's own settings from an earlier install: the installer must leave them as they are.
rm -rf "$install_dir"
mkdir -p "$install_dir/config"
printf 'theme=the user'"'"'s own choice\r\n' >"$install_dir/config/settings.ini"

driver() { "$WINE" "$build/equipment/setup-driver.exe" --timeout 120000 "$@"; }

# Crops a shot of the root window to the setup window, whose outer rectangle the driver reports.
screenshot() {
  local geometry
  geometry="$(driver dump | sed -n 's/^window .* at=\([-0-9]*\),\([-0-9]*\) \([0-9]*x[0-9]*\) .*/\3+\1+\2/p')"
  xwd -root -silent -display "$DISPLAY" | convert xwd:- -crop "$geometry" +repage "$1"
  echo "screenshot: $1"
}

echo "== running $(basename "$installer") under Wine (display $DISPLAY)"
"$WINE" "$installer" >"$out/installer.log" 2>&1 &
installer_pid=$!
driver wait-window >/dev/null
sleep 1  # let the first paint finish before the shot
screenshot "$out/before-install.png"
echo "window before the install:"
driver dump | sed 's/^/  /'

echo "== pressing \"Установить Fernquill\""
# The button reads "Устанавливаем..." for the whole run and never goes back to its first text.
driver click IDC_INSTALL wait-not-text IDC_INSTALL "Установить Fernquill" \
  wait-not-text IDC_INSTALL "Устанавливаем..." >/dev/null
sleep 1
screenshot "$out/after-install.png"
status="$(driver text IDC_STATUS)"
button="$(driver text IDC_INSTALL)"
driver close wait-gone >/dev/null
wait "$installer_pid" && exit_code=0 || exit_code=$?

{
  echo "== result"
  echo "final status text: $status"
  echo "install button:    $button"
  echo "installer exit code after closing its window: $exit_code"
  echo
  echo "== installed files in $install_dir_win"
  (cd "$install_dir" && find . -mindepth 1 | sort | sed 's|^\./|  |')
  echo "config\\settings.ini (user data, must be the user's own, not the package's):"
  sed 's/^/  /' "$install_dir/config/settings.ini"
  echo
  echo "== registry (HKEY_CURRENT_USER\\Software\\Classes)"
  for key in .fqlgame Fernquill.fqlgame .fqlibrary Fernquill.fqlibrary fernquill; do
    "$WINE" reg query "HKCU\\Software\\Classes\\$key" /s 2>/dev/null | tr -d '\r' | sed '/^$/d; s/^/  /' ||
      echo "  (no key $key)"
  done
  echo
  echo "== shortcuts"
  for link in "$profile/AppData/Roaming/Microsoft/Windows/Start Menu/Programs/Fernquill.lnk" \
              "$profile/Desktop/Fernquill.lnk"; do
    if [ -f "$link" ]; then
      echo "  ${link#"$WINEPREFIX/drive_c/"} ($(stat -c %s "$link") bytes)"
    else
      echo "  missing: ${link#"$WINEPREFIX/drive_c/"}"
    fi
  done
  echo
  echo "== launcher"
  if [ -f "$install_dir/launcher-log.txt" ]; then
    echo "the installer started the launcher; its own record:"
    tr -d '\r' <"$install_dir/launcher-log.txt" | sed 's/^/  /'
  else
    echo "no launcher record in $install_dir_win (the launcher was not started)"
  fi
  echo
  echo "screenshots and this report: $out"
} | tee "$out/report.txt"

case "$status" in
  "Готово. Fernquill $version установлен и запущен.") exit 0 ;;
  *) echo "the install did not succeed" >&2; exit 1 ;;
esac
