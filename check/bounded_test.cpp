// What the checker keeps of a program's output stays bounded whatever it printed, and what it
// keeps comes back byte for byte from the JSON; the messages of a flood and of a difference
// deep in a long line show where it is.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "check/formats.hpp"
#include "check/judge.hpp"
#include "check/report.hpp"
#include "check/run.hpp"

namespace {

namespace fs = std::filesystem;
using json = nlohmann::json;

// The text `k` keeps, with every byte it does not keep as '?': the bytes it keeps must be
// the text's own, where they stand.
std::string laid_out(const check::Kept& k) {
    std::string all(k.bytes, '?');
    for (const check::Kept::Part& p : k.parts) all.replace(p.at, p.bytes.size(), p.bytes);
    return all;
}

TEST(Bounded, KeepHoldsTheHeadTheDifferenceAndTheTailOfALongText) {
    struct Row {
        std::string name;
        std::string text;
        std::size_t around;
        std::size_t parts;  // how many
    };
    std::string lines;
    for (int i = 0; i < 5000; ++i) lines += "line " + std::to_string(i) + "\n";
    std::string utf8;
    while (utf8.size() < 40000) utf8 += "\xc3\xa9\xe2\x82\xac\xf0\x9f\x99\x82";  // é € 🙂
    const std::vector<Row> rows = {
        {"empty", "", std::string::npos, 0},
        {"short", "abc\n", 1, 1},
        {"just whole", std::string(check::kKeptWhole, 'x'), 5, 1},
        {"no difference", lines, std::string::npos, 2},
        {"difference in the middle", lines, 20000, 3},
        {"difference near the start", lines, 100, 2},
        {"difference near the end", lines, lines.size() - 10, 2},
        {"difference at the end", lines, lines.size(), 2},
        {"eight MiB of 0x01", std::string(std::size_t{8} << 20, '\x01'), 3U << 20, 3},
        {"multibyte characters cut", utf8, 20001, 3},
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(r.name);
        const check::Kept k = check::keep(r.text, r.around);
        EXPECT_EQ(k.bytes, r.text.size());
        EXPECT_EQ(k.parts.size(), r.parts);
        EXPECT_EQ(k.whole(), r.text.size() <= check::kKeptWhole);
        std::size_t kept = 0, end = 0;
        for (const check::Kept::Part& p : k.parts) {
            EXPECT_GT(p.at + (kept == 0 ? 1 : 0), end) << "parts in order, apart";
            EXPECT_EQ(r.text.compare(p.at, p.bytes.size(), p.bytes), 0);
            kept += p.bytes.size();
            end = p.at + p.bytes.size();
        }
        EXPECT_LE(kept, std::max(check::kKeptWhole, check::kKeptHead + check::kKeptBefore +
                                                        check::kKeptAfter + check::kKeptTail));
        if (r.text.empty()) continue;
        EXPECT_EQ(k.parts.front().at, 0U) << "the head";
        EXPECT_EQ(end, r.text.size()) << "the tail";
        if (r.around < r.text.size()) {
            const std::string all = laid_out(k);
            EXPECT_EQ(all.substr(r.around - std::min<std::size_t>(r.around, 100), 200),
                      r.text.substr(r.around - std::min<std::size_t>(r.around, 100), 200))
                << "the bytes around the difference";
        }
        if (r.name == "multibyte characters cut")
            for (const check::Kept::Part& p : k.parts) {
                const auto first = static_cast<unsigned char>(p.bytes.front());
                EXPECT_NE(first & 0xc0U, 0x80U) << "a part starts a character, at " << p.at;
            }
    }
}

// Runs python3 on `json_text` with `program`, which reads the JSON from standard input; what
// it printed.
std::string python_on(const std::string& program, const std::string& json_text) {
    std::string folder = (fs::temp_directory_path() / "bounded_test.XXXXXX").string();
    const std::string made = ::mkdtemp(folder.data()) ? folder : "";
    if (made.empty()) return "";
    const fs::path in = fs::path(made) / "in.json", script = fs::path(made) / "read.py";
    std::ofstream(in, std::ios::binary) << json_text;
    std::ofstream(script, std::ios::binary) << program;
    std::string out;
    const std::string command = "python3 '" + script.string() + "' < '" + in.string() + "'";
    if (FILE* pipe = ::popen(command.c_str(), "r")) {
        char buffer[4096];
        for (std::size_t n = 0; (n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0;)
            out.append(buffer, n);
        ::pclose(pipe);
    }
    fs::remove_all(made);
    return out;
}

// A reader of the JSON as the manual describes it, independent of the checker: for each
// case, the input's bytes and each output's size and parts, as hexadecimal.
const char* const kReader = R"py(
import base64, json, sys

def raw(v):
    if isinstance(v, str):
        return v.encode("utf-8")
    return base64.b64decode(v["base64"])

def parts(v):
    if isinstance(v, str) or "base64" in v:
        b = raw(v)
        return len(b), [(0, b)]
    return v["bytes"], [(p["at"], p["text"].encode("utf-8") if "text" in p else
                         base64.b64decode(p["base64"])) for p in v["parts"]]

for case in json.loads(sys.stdin.buffer.read())["cases"]:
    print("input", raw(case["input"]).hex())
    for field in ("expected", "actual"):
        size, kept = parts(case[field])
        print(field, size, " ".join("%d:%s" % (at, b.hex()) for at, b in kept))
)py";

std::string hex(const std::string& bytes) {
    std::string out;
    char two[3];
    for (const char c : bytes) {
        std::snprintf(two, sizeof two, "%02x",
                      static_cast<unsigned>(static_cast<unsigned char>(c)));
        out += two;
    }
    return out;
}

TEST(Bounded, JsonCarriesInputsAndOutputsByteForByte) {
    if (std::system("python3 -c 1 >/dev/null 2>&1") != 0) GTEST_SKIP() << "no python3";
    struct Row {
        std::string name, input, want, got;
    };
    std::string flood(std::size_t{1} << 20, '\x01');
    std::string bad_tail = std::string(20000, 'a') + "\xff\xfe\n";
    const std::vector<Row> rows = {
        {"text", "3\n1 2 3\n", "{1,2,3}\n", "{1,2}\n"},
        {"latin-1 input", "caf\xe9\n\x80\n", "ok\n", "no\n"},
        {"a lone continuation byte", "\xbf", "", "\xc3"},
        {"surrogate and overlong", "\xed\xa0\x80\xc0\xaf", "\xf4\x90\x80\x80", "x"},
        {"controls, bidirectional and separators", "\x01\x1b[2J\xe2\x80\xae\xe2\x80\xa8\n",
         "\xc2\x85\n", "\x7f\n"},
        {"a flood of 0x01", "1\n", "menu\n", "menu\n" + flood},
        {"bytes that are not UTF-8 at the end of a long output", "", "a\n", bad_tail},
    };
    check::SubmissionResult s;
    s.program = "setcalc";
    s.submission = "ann";
    for (const Row& r : rows) {
        check::CaseResult c;
        c.name = r.name;
        c.verdict = check::Verdict::wrong_output;
        c.fed = r.input;
        const std::size_t at = check::first_difference_at(r.want, r.got);
        c.want = check::keep(r.want, at);
        c.got = check::keep(r.got, at);
        s.cases.push_back(c);
    }
    const std::string text = check::to_json(s);
    EXPECT_LT(text.size(), std::size_t{200} << 10) << "the flood is kept in part";
    ASSERT_TRUE(json::accept(text));
    std::string expected;
    for (const check::CaseResult& c : s.cases) {
        expected += "input " + hex(c.fed) + "\n";
        for (const auto& [field, k] :
             {std::pair{"expected", &c.want}, std::pair{"actual", &c.got}}) {
            expected += std::string(field) + " " + std::to_string(k->bytes) + " ";
            std::string parts;
            for (const check::Kept::Part& p : k->parts) {  // appended: GCC 12 warns falsely
                if (!parts.empty()) parts += ' ';
                parts += std::to_string(p.at);
                parts += ':';
                parts += hex(p.bytes);
            }
            if (k->parts.empty()) parts = "0:";
            expected += parts + "\n";
        }
    }
    EXPECT_EQ(python_on(kReader, text), expected);
}

TEST(Bounded, AnOutputLimitShowsTheFirstDifferenceAndTheLastLines) {
    using End = check::Outcome::End;
    check::Limits limits;
    limits.output = 1ULL << 20;
    std::string menu = "1. Union\n2. Quit\nEnter your choice: ";
    std::string flood;
    for (int i = 0; flood.size() < limits.output; ++i)
        flood += menu + "Invalid choice " + std::to_string(i) + "\n";
    flood.resize(limits.output);
    struct Row {
        std::string name;
        std::optional<std::string> want;
        std::string got;
        bool out;
        std::vector<std::string> said, unsaid;
    };
    const std::vector<Row> rows = {
        {"a menu for ever",
         menu + "Bye\n",
         menu + flood,
         true,
         {"differs at line 3, column 20", "   >     3 | Enter·your·choice:·1.·Union$",
          "the last lines that reached", "lines before)", "Invalid·choice·"},
         {}},
        {"one line of 0x01",
         "done\n",
         std::string(limits.output, '\x01'),
         true,
         {"differs at line 1, column 1", "\\x01\\x01\\x01\u2026", "      \u2026\\x01"},
         {}},
        {"no expected output",
         std::nullopt,
         flood,
         true,
         {"what reached standard output first:", "the last lines that reached standard output"},
         {"differs"}},
        {"standard error", "", flood, false, {"standard error differs", "to standard error"}, {}},
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(r.name);
        check::Case c;
        c.output = r.want;
        check::Outcome o;
        o.end = End::output_limit;
        (r.out ? o.out : o.err) = r.got;
        o.out_cut = r.out;
        const check::Judgement j = check::judge(c, o, "/nonexistent", false, limits);
        EXPECT_EQ(j.verdict, check::Verdict::output_limit);
        EXPECT_LT(j.message.size(), 8000U);
        for (const std::string& s : r.said)
            EXPECT_NE(j.message.find(s), std::string::npos) << s << "\n" << j.message;
        for (const std::string& s : r.unsaid)
            EXPECT_EQ(j.message.find(s), std::string::npos) << s << "\n" << j.message;
    }
    // The last line of the flood is where it ended.
    check::Case c;
    c.output = "x\n";
    check::Outcome o;
    o.end = End::output_limit;
    o.out = flood;
    o.out_cut = true;
    const std::string message = check::judge(c, o, "/nonexistent", false, limits).message;
    const std::string last = flood.substr(flood.rfind('\n') + 1);
    EXPECT_NE(message.find(check::visible_line(last, false) + "\n"), std::string::npos)
        << last << "\n"
        << message;
}

TEST(Bounded, AToolsLongLinesAreCut) {
    // A memory checker's log forged by the program, a compiler quoting a huge line.
    const std::string huge(std::size_t{1} << 20, 'x');
    struct Row {
        std::string text;
        std::size_t lines, most;
    };
    const std::vector<Row> rows = {
        {huge, 20, 2100},
        {huge + "\n" + huge + "\n" + huge, 2, 4200},
        {"short\n" + huge, 1, 30},
    };
    for (const Row& r : rows) {
        const std::string kept = check::plain_lines(r.text, r.lines);
        EXPECT_LE(kept.size(), r.most) << kept.substr(0, 100);
    }
    EXPECT_EQ(check::plain_lines("a\nb\n", 5), "a\nb\n");
}

// The character shown at terminal column `column` (from 0) of the visible `line`.
std::string at_column(const std::string& line, std::size_t column) {
    std::size_t n = 0;
    for (std::size_t i = 0; i < line.size(); ++i) {
        if ((static_cast<unsigned char>(line[i]) & 0xc0U) == 0x80U) continue;
        if (n++ == column) {
            std::size_t length = 1;
            while (i + length < line.size() &&
                   (static_cast<unsigned char>(line[i + length]) & 0xc0U) == 0x80U)
                ++length;
            return line.substr(i, length);
        }
    }
    return "";
}

TEST(Bounded, ALongLinesContextIsCutAroundTheDifference) {
    // Lines of 300 bytes (a letter and its position), differing at column 200 of the third.
    auto line = [](char c) {
        std::string l;
        for (int i = 0; i < 300; ++i) l += i % 10 == 0 ? c : static_cast<char>('0' + i % 10);
        return l + "\n";
    };
    const std::string want = line('a') + "short\n" + line('c') + line('d');
    std::string got = want;
    const std::size_t third = want.find(line('c'));
    got[third + 199] = '#';
    const std::string d = check::difference("standard output", want, got);
    EXPECT_NE(d.find("line 3, column 200"), std::string::npos) << d;
    // Every context line shows its bytes around column 200, not a bare ellipsis.
    EXPECT_EQ(d.find("| \u2026$"), std::string::npos) << d;
    EXPECT_NE(d.find("     2 | short$"), std::string::npos) << d;
    EXPECT_NE(d.find("     1 | \u20269a123456789a"), std::string::npos) << d;
    EXPECT_NE(d.find("     4 | \u20269d123456789d"), std::string::npos) << d;
    // The caret stands under the differing byte of each marked line.
    for (const char* side : {"expected:", "actual:"}) {
        SCOPED_TRACE(side);
        const std::size_t marked = d.find("   >     3 | ", d.find(side));
        ASSERT_NE(marked, std::string::npos) << d;
        const std::size_t line_end = d.find('\n', marked);
        const std::string shown = d.substr(marked, line_end - marked);
        const std::size_t caret = d.find('^', line_end) - (line_end + 1);
        EXPECT_EQ(at_column(shown, caret), side == std::string("expected:") ? "9" : "#") << d;
    }
}

}  // namespace
