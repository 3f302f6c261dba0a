#!/bin/bash
# The class report page as a browser shows it: formats_test writes the page of a sample
# class, headless Chromium loads it from the disk (no network) and must find every student
# and the summary in the page it built, then draws it into a PNG, copied beside the build
# folder (report-screenshot.png) for a person to look at.
# Usage: report_browser_test.sh BUILD_BIN_DIR (the folder that holds formats_test).
# Exits 77 (skipped) when /usr/bin/chromium is not installed.
set -euo pipefail

bin=${1:?usage: report_browser_test.sh BUILD_BIN_DIR}
browser=/usr/bin/chromium
if [[ ! -x $browser ]]; then
    echo "skipped: $browser is not installed (Debian's package chromium)"
    exit 77
fi
tester=$(find "$bin" -name formats_test -type f -perm -u+x | head -n 1)
[[ -n $tester ]] || { echo "FAILED: no formats_test under $bin"; exit 1; }

tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
page=$tmp/report.html

# fail MESSAGE: says what went wrong and stops.
fail() {
    echo "FAILED: $*"
    exit 1
}

# browse ARGS...: runs the browser headless, alone, on the page, for at most 60 seconds.
browse() {
    timeout 60 "$browser" --headless --no-sandbox --disable-gpu --disable-quic --no-first-run \
        --disable-background-networking --disable-component-update --disable-sync \
        --disable-dev-shm-usage --user-data-dir="$tmp/profile" "$@" "file://$page" \
        2>"$tmp/browser.log"
}

REPORT_PAGE=$page "$tester" --gtest_filter='Formats.ReportPageIsSelfContainedAndEscaped' \
    >"$tmp/gtest.log" || { cat "$tmp/gtest.log"; fail "formats_test did not write the page"; }
[[ -s $page ]] || fail "formats_test wrote no page at $page"

browse --dump-dom >"$tmp/dom.html" || { cat "$tmp/browser.log"; fail "chromium could not load the page"; }
held=(
    "<title>collection-check: setcalc class report</title>"
    'id="summary"'
    "<svg"
    "students"
    "mean score"
    "Cases, the most failed first"
    "Verdicts"
    "alice — 7/7"
    "bob &lt;script&gt;alert(1)&lt;/script&gt; — 2/7"
    "carol \"O'Hara\" &amp; co — 5.5/7"
    "dave — 0/7"
    'eve \xff\x01 — 4/7'
)
for text in "${held[@]}"; do
    grep -qF -- "$text" "$tmp/dom.html" || fail "the page as loaded lacks: $text"
done
# The name that holds a script stays text: the browser built no script element from it.
if grep -qi "<script" "$tmp/dom.html"; then fail "the page as loaded holds a script element"; fi
[[ $(grep -c "<details" "$tmp/dom.html") -ge 5 ]] || fail "fewer than 5 student sections"

browse --screenshot="$tmp/shot.png" --window-size=1200,1600 >/dev/null ||
    { cat "$tmp/browser.log"; fail "chromium drew no screenshot"; }
[[ -s $tmp/shot.png ]] || fail "the screenshot is empty"
[[ $(head -c 8 "$tmp/shot.png" | od -An -tx1 | tr -d ' \n') == 89504e470d0a1a0a ]] ||
    fail "the screenshot is not a PNG"
cp "$tmp/shot.png" "$bin/../report-screenshot.png"
echo "report page: loaded and drawn ($(stat -c %s "$tmp/shot.png") bytes of PNG," \
    "copied to $(realpath "$bin/..")/report-screenshot.png)"
