// The class report page's script, embedded into the page when the checker is built
// (check/embed_text.cmake). It sorts the grid of students and cases by a header's column,
// filters the grid by verdict, and, when a case's header is clicked, shows only the
// students who built and failed that case, with their names listed above the grid. It
// reads only the page's own cells and writes names as text, never as markup.
(function () {
    "use strict";
    var grid = document.getElementById("grid");
    if (!grid) return;
    var body = grid.tBodies[0];
    var heads = Array.prototype.slice.call(grid.tHead.rows[0].cells);
    var first = Number(grid.getAttribute("data-first-case"));
    var cases = heads.length - first;
    var filter = document.getElementById("verdict-filter");
    var showAll = document.getElementById("show-all");
    var who = document.getElementById("who");
    var shown = document.getElementById("shown");
    var state = { verdict: "", chosen: -1 };

    // The rows of the grid, as an array.
    function rows() { return Array.prototype.slice.call(body.rows); }

    // The verdict word of `row`'s case `k` ("" when the case was not run).
    function verdictOf(row, k) {
        var cell = row.cells[first + k];
        return cell ? cell.getAttribute("data-v") || "" : "";
    }

    // True when the student's submission built (or was given) and failed case `k`.
    function failedIn(row, k) {
        var v = verdictOf(row, k);
        return row.getAttribute("data-built") === "1" && v !== "" && v !== "passed";
    }

    // True when `row`'s case `k` is one the verdict filter asks for.
    function matches(row, k) {
        if (state.verdict === "failed") return failedIn(row, k);
        return verdictOf(row, k) === state.verdict;
    }

    // Shows the rows the filters keep, dims the cells the verdict filter does not ask for,
    // and says who failed the chosen case.
    function apply() {
        var count = 0, failing = [], built = 0;
        rows().forEach(function (row) {
            var keep = true, any = false;
            for (var k = 0; k < cases; ++k) {
                var match = state.verdict === "" || matches(row, k);
                row.cells[first + k].classList.toggle("dim", !match);
                any = any || match;
            }
            if (state.verdict !== "" && !any) keep = false;
            if (state.chosen >= 0) {
                if (row.getAttribute("data-built") === "1") built += 1;
                if (failedIn(row, state.chosen)) failing.push(row.getAttribute("data-name"));
                else keep = false;
            }
            row.hidden = !keep;
            if (keep) count += 1;
        });
        shown.textContent = count + " of " + body.rows.length + " students shown";
        heads.forEach(function (h, i) {
            h.classList.toggle("chosen", state.chosen >= 0 && i - first === state.chosen);
        });
        who.textContent = "";
        who.hidden = state.chosen < 0;
        if (state.chosen < 0) return;
        var title = document.createElement("strong");
        var name = heads[first + state.chosen].getAttribute("data-name");
        title.textContent = failing.length + " of the " + built + " submissions that built failed " + name;
        who.appendChild(title);
        var list = document.createElement("div");
        list.className = "name";
        list.textContent = failing.length ? failing.join(", ") : "(nobody)";
        who.appendChild(list);
    }

    // Sorts the rows by `head`'s column: a student's name A to Z, a score highest first, a
    // case its failures first; a second click on the same header reverses the order.
    function sortBy(head) {
        var key = head.getAttribute("data-sort");
        var k = heads.indexOf(head) - first;
        var was = head.getAttribute("aria-sort");
        var natural = key === "score" ? "descending" : "ascending";
        var now = was === natural ? (natural === "ascending" ? "descending" : "ascending") : natural;
        var sign = now === "ascending" ? 1 : -1;
        var value = function (row) {
            if (key === "name") return row.getAttribute("data-name");
            if (key === "score") return Number(row.getAttribute("data-score"));
            if (failedIn(row, k)) return 0;
            return verdictOf(row, k) === "passed" ? 2 : 1;
        };
        var order = rows();
        order.sort(function (a, b) {
            var x = value(a), y = value(b);
            var c = typeof x === "number" ? x - y : String(x).localeCompare(String(y));
            if (c !== 0) return sign * c;
            return Number(a.getAttribute("data-order")) - Number(b.getAttribute("data-order"));
        });
        order.forEach(function (row) { body.appendChild(row); });
        heads.forEach(function (h) { h.removeAttribute("aria-sort"); });
        head.setAttribute("aria-sort", now);
    }

    heads.forEach(function (head) {
        if (!head.hasAttribute("data-sort")) return;
        head.tabIndex = 0;
        var act = function () {
            sortBy(head);
            if (head.getAttribute("data-sort") === "case") {
                state.chosen = heads.indexOf(head) - first;
                apply();
            }
        };
        head.addEventListener("click", act);
        head.addEventListener("keydown", function (e) {
            if (e.key === "Enter" || e.key === " ") { e.preventDefault(); act(); }
        });
    });
    filter.addEventListener("change", function () {
        state.verdict = filter.value;
        apply();
    });
    showAll.addEventListener("click", function () {
        state.chosen = -1;
        state.verdict = "";
        filter.value = "";
        apply();
    });
    // A student's name in the grid opens their section below.
    document.querySelectorAll("a.to-student").forEach(function (a) {
        a.addEventListener("click", function () {
            var section = document.getElementById(a.getAttribute("href").slice(1));
            var details = section && section.querySelector("details");
            if (details) details.open = true;
        });
    });
    apply();
})();
