#!/bin/bash
# The class report page as a browser shows it: formats_test writes the page of a sample
# class (a missing student, a compile error, a refused one, wrong outputs, passing ones),
# headless Chromium loads it from the disk (no network) and must find every student and the
# summary in the page it built; then the page's own script is driven by clicks, as a
# teacher would (a second script, appended to a copy of the page, clicks the headers and
# the filter and writes what the grid shows into the page, which --dump-dom returns); then
# Chromium draws the page into a PNG, copied beside the build folder
# (report-screenshot.png) for a person to look at.
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

# The page's script, as the page holds it, is JavaScript node reads (where node is at hand;
# the browser runs it below in any case).
if command -v node >/dev/null; then
    sed -n '/^<script>$/,/^<\/script>$/p' "$page" | sed '1d;$d' >"$tmp/page.js"
    [[ -s $tmp/page.js ]] || fail "the page holds no script"
    node --check "$tmp/page.js" || fail "the page's script is not JavaScript node can read"
fi

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
# The name that holds a script stays text: the browser built no script element from it,
# and the page holds only its own.
[[ $(grep -oi "<script" "$tmp/dom.html" | wc -l) -eq 1 ]] ||
    fail "the page as loaded holds another script element than its own"
[[ $(grep -c '<div class="student"' "$tmp/dom.html") -eq 8 ]] || fail "not 8 student sections"

# The grid and its script, driven by clicks. Rows are named by their place in the class
# (0 alice, 1 bob, 2 carol, 3 dave: compile error, 4 eve: given built, 5 frank: missing,
# 6 grace: refused, 7 heidi). The first script, put first in the head, records any error
# the page's own script raises.
drive=$tmp/drive.html
sed 's|<head>|<head><script>window.pageErrors = []; window.addEventListener("error", function (e) { window.pageErrors.push(e.message); });</script>|' \
    "$page" >"$drive"
cat >>"$drive" <<'SCRIPT'
<script>
(function () {
    var out = [];
    var say = function (what, value) { out.push(what + "=" + value); };
    try {
        var grid = document.getElementById("grid");
        var heads = grid.tHead.rows[0].cells;
        var body = grid.tBodies[0];
        var shown = function () {
            return Array.prototype.filter.call(body.rows, function (r) { return !r.hidden; })
                .map(function (r) { return r.getAttribute("data-order"); }).join(",");
        };
        var row = function (order) { return body.querySelector('tr[data-order="' + order + '"]'); };
        var cells = function (order) {
            return Array.prototype.slice.call(row(order).cells, 2).map(function (c) {
                return c.getAttribute("data-v") || c.textContent;
            }).join(",");
        };
        say("columns", heads.length);
        say("bob", cells(1));
        say("dave", cells(3));
        say("frank", cells(5));
        say("grace", cells(6));
        say("hidden-cells", grid.querySelectorAll("td.hid").length);
        say("start", shown());
        heads[1].click();
        say("score-down", shown());
        heads[1].click();
        say("score-up", shown());
        heads[0].click();
        say("name-up", shown());
        heads[0].click();
        say("name-down", shown());
        heads[4].click();
        say("failed-empty", shown());
        say("who", document.getElementById("who").textContent);
        document.getElementById("show-all").click();
        say("all-again", shown());
        var filter = document.getElementById("verdict-filter");
        filter.value = "crashed";
        filter.dispatchEvent(new Event("change"));
        say("crashed", shown());
        say("dimmed", grid.querySelectorAll("tr:not([hidden]) td.dim").length);
        filter.value = "failed";
        filter.dispatchEvent(new Event("change"));
        say("failed", shown());
        var missing = getComputedStyle(row(5).cells[2].querySelector(".v"));
        say("missing-differs", missing.color !== missing.backgroundColor &&
            missing.backgroundColor !== "rgba(0, 0, 0, 0)" && missing.visibility === "visible");
        say("errors", window.pageErrors.length ? window.pageErrors.join(";") : "none");
    } catch (e) {
        say("thrown", e.message);
    }
    var pre = document.createElement("pre");
    pre.id = "driven";
    pre.textContent = "\n" + out.join("\n") + "\n";
    document.body.appendChild(pre);
})();
</script>
SCRIPT
page=$drive browse --dump-dom >"$tmp/driven.html" ||
    { cat "$tmp/browser.log"; fail "chromium could not load the driven page"; }
driven=$(sed -n '/<pre id="driven">/,/<\/pre>/p' "$tmp/driven.html")
expected=(
    "columns=8"
    # Each cell its verdict, the build its own badge.
    "bob=warnings,passed,wrong-output,time-limit,passed,wrong-status"
    "dave=compile-error,compile-error,compile-error,compile-error,compile-error,compile-error"
    "frank=missing,not-started,not-started,not-started,not-started,not-started"
    "grace=refused,not-started,not-started,not-started,not-started,not-started"
    "hidden-cells=8"
    "start=0,1,2,3,4,5,6,7"
    # By score, the highest first; ties keep the class's order.
    "score-down=0,7,2,4,1,3,5,6"
    "score-up=3,5,6,1,4,2,7,0"
    "name-up=0,1,2,3,4,5,6,7"
    "name-down=7,6,5,4,3,2,1,0"
    # The case empty<input>: bob, carol and heidi built and failed it.
    "failed-empty=1,2,7"
    # Their names listed, as text (bidirectional controls shown as escapes).
    "who=3 of the 5 submissions that built failed empty&lt;input&gt;bob &lt;script&gt;alert(1)&lt;/script&gt;, carol \"O'Hara\" &amp; co, heidi \\u202e\\u2066"
    # Every student again, in the case's order: its failures first, then those not run.
    "all-again=1,2,7,3,5,6,0,4"
    "crashed=2"
    "dimmed=4"
    # Any failure, of those that built: the compile error, missing and refused are not.
    "failed=1,2,7,4"
    "missing-differs=true"
    "errors=none"
)
for line in "${expected[@]}"; do
    grep -qxF -- "$line" <<<"$driven" || { echo "$driven"; fail "the driven page lacks: $line"; }
done

browse --screenshot="$tmp/shot.png" --window-size=1200,2400 >/dev/null ||
    { cat "$tmp/browser.log"; fail "chromium drew no screenshot"; }
[[ -s $tmp/shot.png ]] || fail "the screenshot is empty"
[[ $(head -c 8 "$tmp/shot.png" | od -An -tx1 | tr -d ' \n') == 89504e470d0a1a0a ]] ||
    fail "the screenshot is not a PNG"
cp "$tmp/shot.png" "$bin/../report-screenshot.png"
echo "report page: loaded and drawn ($(stat -c %s "$tmp/shot.png") bytes of PNG," \
    "copied to $(realpath "$bin/..")/report-screenshot.png)"
