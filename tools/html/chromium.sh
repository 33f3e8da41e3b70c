#!/bin/sh
# Loads a page in headless Chromium, offline and with a fresh profile that is removed again:
#   chromium.sh dom PAGE.html                 prints the DOM after the page's scripts ran
#   chromium.sh shot PAGE.html OUT.png WxH    writes a screenshot of the window's first WxH pixels
# The flags keep Chromium from reaching for the network (updates, sync, QUIC) and let it run
# as root without a sandbox. Uses chromium-headless-shell, or chromium when that is missing.
set -eu
browser=$(command -v chromium-headless-shell || command -v chromium || true)
if [ -z "$browser" ]; then
  echo "chromium.sh: neither chromium-headless-shell nor chromium is installed (make deps)" >&2
  exit 2
fi
[ $# -ge 2 ] || { echo "usage: chromium.sh dom PAGE | shot PAGE OUT.png WxH" >&2; exit 2; }
mode=$1
page=$(realpath "$2")
profile=$(mktemp -d)
trap 'rm -rf "$profile"' EXIT
run() {
  timeout 180 "$browser" --headless --no-sandbox --disable-gpu --disable-quic --no-first-run \
    --disable-background-networking --disable-component-update --disable-sync \
    --disable-default-apps --user-data-dir="$profile" "$@" 2>"$profile/stderr" || {
    rc=$?; cat "$profile/stderr" >&2; return $rc; }
}
case "$mode" in
  dom) run --dump-dom "file://$page" ;;
  shot) run --hide-scrollbars --window-size="$(echo "$4" | tr x ,)" --screenshot="$(realpath -m "$3")" \
          "file://$page" >/dev/null ;;
  *) echo "chromium.sh: unknown mode $mode" >&2; exit 2 ;;
esac
