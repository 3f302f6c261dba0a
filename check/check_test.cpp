#include <gtest/gtest.h>
#include <signal.h>

#include <algorithm>
#include <chrono>
#include <functional>
#include <tuple>

#include <optional>
#include <string>
#include <vector>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>

#include <archive.h>
#include <archive_entry.h>

#include "check/arrive.hpp"
#include "check/build.hpp"
#include "check/case.hpp"
#include "check/grade.hpp"
#include "check/judge.hpp"
#include "check/platform.hpp"
#include "check/regrade.hpp"
#include "check/report_page.hpp"
#include "check/run.hpp"

namespace {

TEST(Check, VisibleLineShowsEveryInvisibleByte) {
    struct Row {
        std::string line;
        bool ended;
        std::string shown;
    };
    const std::vector<Row> rows = {
        {"", false, ""},
        {"", true, "$"},
        {"a b", true,
         "a\xc2\xb7"
         "b$"},
        {"1\t2\t", false, "1\\t2\\t"},
        {"back\\slash", false, "back\\\\slash"},
        {std::string("\0\r\x7f\xe9", 4), false, R"(\x00\x0d\x7f\xe9)"},
        {"~!", true, "~!$"},
    };
    for (const Row& r : rows) EXPECT_EQ(check::visible_line(r.line, r.ended), r.shown) << r.line;
}

TEST(Check, VisibleTextShowsEveryByteThatActsInsteadOfShowing) {
    using check::Shown;
    struct Row {
        std::string text;
        Shown how;
        std::string shown;
    };
    const std::vector<Row> rows = {
        {"é ✓ 𝄞", Shown::name, "é ✓ 𝄞"},  // printable UTF-8 stays UTF-8
        {"a\xe2\x80\xae"
         "321",
         Shown::name, "a\\u202e321"},  // right-to-left override
        {"\xe2\x81\xa6x\xe2\x81\xa9\xe2\x80\x8f\xd8\x9c", Shown::word,
         "\\u2066x\\u2069\\u200f\\u061c"},
        {"c1 \xc2\x85\xc2\x9b", Shown::lines, "c1 \\u0085\\u009b"},
        {"\x1b[31mred\x7f", Shown::lines, "\\x1b[31mred\\x7f"},
        {"\xff\xfe\xc3", Shown::name, "\\xff\\xfe\\xc3"},  // not UTF-8
        {"\xe2\x80\xa8", Shown::name, "\\u2028"},          // a line separator
        {"a\tb\\c\nd", Shown::lines, "a\tb\\c\nd"},
        {"a\tb\\c\nd", Shown::name, "a\\tb\\\\c\\x0ad"},
        {"a\tb\\c\nd", Shown::word, "a\\x09b\\c\\x0ad"},
        {"a b\\", Shown::line,
         "a\xc2\xb7"
         "b\\\\"},
    };
    for (const Row& r : rows) {
        const std::string v = check::visible_text(r.text, r.how);
        EXPECT_EQ(v, r.shown) << r.text;
        // Showing what is shown changes nothing more: outputs may apply it again safely.
        EXPECT_EQ(check::visible_text(v, Shown::lines), v) << r.text;
    }
}

TEST(Check, NamesAreCutToTheirColumns) {
    struct Row {
        std::string text;
        std::size_t width;
        std::string cut;
    };
    const std::vector<Row> rows = {
        {"short", 10, "short"},
        {"exactly10!", 10, "exactly10!"},
        {"eleven char", 10, "eleven ch\u2026"},
        {"ééééé", 3, "éé\u2026"},
        {std::string(200, 'x'), 40, std::string(39, 'x') + "\u2026"},
    };
    for (const Row& r : rows) {
        EXPECT_EQ(check::cut_to_columns(r.text, r.width), r.cut) << r.text;
        EXPECT_LE(check::columns(check::cut_to_columns(r.text, r.width)), r.width);
    }
}

TEST(Check, PresentationMeansTheSameWordsInTheSameOrder) {
    struct Row {
        std::string want, got;
        bool same;
    };
    const std::vector<Row> rows = {
        {"row 1: 12 3 45\n", "row 1: 1 23 4 5\n", false},  // the numbers themselves differ
        {"row 1: 12 3 45\n", "row 1:  12 3\t45 \n", true},
        {"a b\nc\n", "a\nb c", true},
        {"ab\n", "a b\n", false},
        {"a b\n", "ab\n", false},
        {"12 3\n", "123\n", false},
        {"x\n", "x y\n", false},
        {"", " \n\n", true},
        {"a\r\nb", "a b", true},
    };
    check::Case c;
    for (const Row& r : rows) {
        EXPECT_EQ(check::same_but_spacing(r.want, r.got), r.same) << r.want << "|" << r.got;
        EXPECT_EQ(check::same_but_spacing(r.got, r.want), r.same) << r.got << "|" << r.want;
        c.output = r.want;
        check::Outcome o;
        o.end = check::Outcome::End::exited;
        o.out = r.got;
        const check::Verdict v = check::judge(c, o, "/nonexistent", false, {}).verdict;
        EXPECT_EQ(v, r.same ? check::Verdict::presentation : check::Verdict::wrong_output)
            << r.want << "|" << r.got;
    }
}

// The words bash runs when `line` is pasted into it after `printf '%s\0'`.
std::vector<std::string> words_bash_runs(const std::string& line) {
    std::string folder = (std::filesystem::temp_directory_path() / "check_test.XXXXXX").string();
    if (::mkdtemp(folder.data()) == nullptr) return {};
    const std::filesystem::path script = std::filesystem::path(folder) / "replay";
    std::ofstream(script, std::ios::binary) << "printf '%s\\0' " << line << "\n";
    std::vector<std::string> words;
    if (FILE* pipe = ::popen(("bash '" + script.string() + "'").c_str(), "r")) {
        std::string all;
        char buffer[4096];
        for (std::size_t n = 0; (n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0;)
            all.append(buffer, n);
        ::pclose(pipe);
        for (std::size_t at = 0, nul = 0; (nul = all.find('\0', at)) != std::string::npos;
             at = nul + 1)
            words.push_back(all.substr(at, nul - at));
    }
    std::filesystem::remove_all(folder);
    return words;
}

TEST(Check, ReplayWordsRunAsTheyAreInBash) {
    if (::access("/bin/bash", X_OK) != 0) GTEST_SKIP() << "bash is not installed";
    const std::vector<std::string> hostile = {
        "plain/path", "x';touch${IFS}PWNED;'", "it's \"quoted\"", "$HOME and ${IFS} and $(id)",
        "`id`", "new\nline", "esc\x1b[31m", "\xff\xfe invalid", "-starts-with-dash",
        "back\\slash\\x41",
        // NOLINTNEXTLINE(bugprone-suspicious-missing-comma): one word split after its escape
        "\xe2\x80\xae"
        "321",
        "tab\there", "é", "",
        "a\x01"
        "0",  // a digit after an escape must not join it
    };
    const std::string line = check::shell_words(hostile);
    EXPECT_EQ(check::visible_text(line, check::Shown::word), line) << "printable only";
    EXPECT_EQ(words_bash_runs(line), hostile) << line;
    EXPECT_FALSE(std::filesystem::exists("PWNED"));
}

TEST(Check, ReplayWordsKeepPrintableUtf8AsItIs) {
    const std::vector<std::pair<std::string, std::string>> rows = {
        {"./setcalc", "./setcalc"},
        {"Zo\xc3\xa9/setcalc", "'Zo\xc3\xa9/setcalc'"},
        {"my work/", "'my work/'"},
        // Only the bytes a terminal would act on, or that are not UTF-8, are escaped.
        {"Zo\xc3\xa9\x01", "$'Zo\xc3\xa9\\x01'"},
        {"Zo\xe9", "$'Zo\\xe9'"},
        {"\xe2\x80\xae"
         "x",
         "$'\\xe2\\x80\\xaex'"},
    };
    for (const auto& [word, quoted] : rows) EXPECT_EQ(check::shell_words({word}), quoted) << word;
}

TEST(Check, NamesOutsideAUtf8LocaleAreShownInAscii) {
    const std::vector<std::pair<std::string, std::string>> rows = {
        {"plain", "plain"},
        {"Zo\xc3\xa9", "Zo\\xc3\\xa9"},
        {"\\x41", "\\x41"},  // already visible: kept
    };
    for (const auto& [text, ascii] : rows) EXPECT_EQ(check::ascii_text(text), ascii) << text;
    EXPECT_EQ(check::cut_to_columns("abcdef", 4, "~"), "abc~");
}

TEST(Check, Sha256MatchesItsKnownDigests) {
    const std::vector<std::pair<std::string, std::string>> rows = {
        {"", "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855"},
        {"abc", "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad"},
        {"abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq",
         "248d6a61d20638b8e5c026930c3e6039a33ce45964ff2167f6ecedd419db06c1"},
        {std::string(1000000, 'a'),
         "cdc76e5c9914fb9281a1c7e284d73e67f1809a48a497200e046d39ccc7112cd0"},
    };
    for (const auto& [text, digest] : rows) {
        check::Sha256 h;
        // Fed in uneven pieces, as a stream is read.
        for (std::size_t at = 0; at < text.size(); at += 61)
            h.add(text.data() + at, std::min<std::size_t>(61, text.size() - at));
        EXPECT_EQ(h.hex(), digest) << text.substr(0, 20);
    }
}

TEST(Check, DifferenceMarksTheFirstDifferingLineAndKeepsContext) {
    struct Row {
        std::string want, got;
        std::vector<std::string> held;  // each must be in the difference
    };
    std::string ten;
    for (int i = 1; i <= 10; ++i) ten += "line " + std::to_string(i) + "\n";
    std::string ten_changed = ten;
    ten_changed.replace(ten.find("line 6"), 6, "line six");
    const std::vector<Row> rows = {
        {"ab\n",
         "ab",
         {"differs at line 1, column 3 (byte 3)", "   >     1 | ab$\n", "   >     1 | ab(end)\n",
          "         2 | (end)\n"}},
        {"", "x", {"line 1, column 1 (byte 1)", "   >     1 | (end)\n", "   >     1 | x(end)\n"}},
        {ten,
         ten_changed,
         {"differs at line 6, column 6 (byte 41)", "      (2 lines before)\n",
          // NOLINTNEXTLINE(bugprone-suspicious-missing-comma): a literal split after its hex escape
          "         3 | line\xc2\xb7"
          "3$\n",
          "   >     6 | line\xc2\xb7"
          "six$\n",
          "                  ^\n",
          "         9 | line\xc2\xb7"
          "9$\n",
          "      (2 more lines)\n"}},
        {"a\tb\n", "a\tc\n", {"   >     1 | a\\tb$\n                ^\n"}},
    };
    for (const Row& r : rows) {
        std::string d = check::difference("standard output", r.want, r.got);
        EXPECT_EQ(d.rfind("  standard output differs at line", 0), 0u) << d;
        for (const std::string& h : r.held)
            EXPECT_NE(d.find(h), std::string::npos) << h << "\n" << d;
    }
}

TEST(Check, KindMarkIsExactlyOneOfTwoWords) {
    EXPECT_EQ(check::parse_kind("exercise\n"), check::Kind::exercise);
    EXPECT_EQ(check::parse_kind("collection\n"), check::Kind::collection);
    EXPECT_EQ(check::parse_kind("exercise"), check::Kind::exercise);
    for (const char* bad : {"", "\n", "Exercise\n", "exercise\n\n", " exercise\n", "exercises\n",
                            "exercise collection\n"})
        EXPECT_FALSE(check::parse_kind(bad)) << bad;
    EXPECT_STREQ(check::kind_name(check::Kind::exercise), "exercise");
    EXPECT_STREQ(check::kind_name(check::Kind::collection), "collection");
}

TEST(Check, StatusIsANumberFrom0To255) {
    const std::vector<std::pair<std::string, std::optional<int>>> rows = {
        {"0\n", 0},
        {"255\n", 255},
        {"54", 54},
        {"007\n", 7},
        {"256\n", std::nullopt},
        {"", std::nullopt},
        {"\n", std::nullopt},
        {"-1\n", std::nullopt},
        {"1 \n", std::nullopt},
        {"0000\n", std::nullopt},
        {"1\n\n", std::nullopt},
        {"x\n", std::nullopt},
    };
    for (const auto& [text, status] : rows) EXPECT_EQ(check::parse_status(text), status) << text;
}

TEST(Check, JudgeComparesAnOpenStatusOnlyWhenStrict) {
    check::Case c;
    c.folder = "/nonexistent";
    c.output = "out";
    c.status = 0;
    c.status_open = true;
    check::Outcome o;
    o.end = check::Outcome::End::exited;
    o.code = 5;
    o.out = "out";
    const check::Limits limits;
    auto message = [&](bool strict) {
        return check::judge(c, o, "/nonexistent", strict, limits).message;
    };
    EXPECT_EQ(message(false), "");
    EXPECT_EQ(message(true), "  exit status 5, expected 0\n");
    c.status_open = false;
    EXPECT_EQ(message(false), "  exit status 5, expected 0\n");
    // No expected standard error: it must be empty. No expected output: not compared.
    o.code = 0;
    o.err.push_back('x');
    c.output.reset();
    o.out = "anything";
    EXPECT_NE(message(false).find("standard error differs"), std::string::npos);
}

TEST(Check, VerdictFollowsHowTheRunEnded) {
    using End = check::Outcome::End;
    using check::Verdict;
    struct Row {
        End end;
        int code;
        double cpu;
        long rss_kib;
        std::string out, err;
        Verdict verdict;
        std::string said;      // in the message
        bool refused = false;  // a request of 64 MiB was refused at the memory bound
    };
    check::Limits limits;
    limits.wall = 1;
    limits.cpu = 2;
    limits.memory = 64ULL << 20;
    limits.output = 1ULL << 20;
    const std::vector<Row> rows = {
        {End::exited, 0, 0, 0, "out\n", "", Verdict::passed, ""},
        {End::not_started, 0, 0, 0, "", "", Verdict::not_started, "could not be started"},
        {End::wall_limit, 0, 0, 0, "o", "", Verdict::time_limit, "within 1 second (the wall"},
        {End::wall_limit, 0, 0, 0, "", "", Verdict::time_limit, "lost when it is stopped"},
        {End::signaled, SIGXCPU, 2.1, 0, "", "", Verdict::time_limit, "2 seconds of processor"},
        {End::signaled, SIGKILL, 2.5, 0, "", "", Verdict::time_limit, "(the CPU time limit)"},
        {End::output_limit, 0, 0, 0, "x", "", Verdict::output_limit, "more than 1 MiB"},
        // Memory: a refusal seen makes any failure the limit's; a peak near the limit does not.
        {End::signaled, SIGABRT, 0, 60000, "", "", Verdict::crashed, "SIGABRT"},
        {End::signaled, SIGSEGV, 0, 10, "", "", Verdict::memory_limit, "request for 64 MiB", true},
        {End::exited, 3, 0, 10, "malloc failed\n", "", Verdict::memory_limit, "ran out of memory",
         true},
        {End::exited, 0, 0, 10, "malloc failed\n", "", Verdict::memory_limit, "(64 MiB, for all",
         true},
        {End::exited, 0, 0, 10, "out\n", "", Verdict::passed, "", true},
        // What the program says is never taken for a measure.
        {End::exited, 1, 0, 10, "out\n", "std::bad_alloc\n", Verdict::wrong_status, "status 1"},
        {End::exited, 1, 0, 20000, "out\n", "", Verdict::wrong_status, "exit status 1"},
        {End::memory_limit, 0, 0, 0, "", "", Verdict::memory_limit, "processes together"},
        {End::signaled, SIGSEGV, 0, 10, "", "", Verdict::crashed, "SIGSEGV, signal 11"},
        {End::signaled, SIGSEGV, 0, 10, "", "", Verdict::crashed, "lost at a crash"},
        {End::exited, 3, 0, 0, "out\n", "", Verdict::wrong_status, "exit status 3, expected 0"},
        {End::exited, 0, 0, 0, "out", "", Verdict::presentation, "right words, different spacing"},
        {End::exited, 3, 0, 0, "out", "", Verdict::wrong_status, "right words"},
        {End::exited, 3, 0, 0, "put\n", "", Verdict::wrong_output, "exit status 3"},
        {End::exited, 0, 0, 0, "out\n", "oops", Verdict::wrong_stderr, "standard error differs"},
    };
    check::Case c;
    c.output = "out\n";
    for (const Row& r : rows) {
        check::Outcome o;
        o.end = r.end;
        o.code = r.code;
        o.cpu_seconds = r.cpu;
        o.max_rss_kib = r.rss_kib;
        o.allocation_refused = r.refused;
        o.refused_bytes = r.refused ? 64ULL << 20 : 0;
        o.out = r.out;
        o.err = r.err;
        o.out_cut = r.end == End::output_limit;
        check::Judgement j = check::judge(c, o, "/nonexistent", false, limits);
        EXPECT_EQ(j.verdict, r.verdict) << check::verdict_word(r.verdict) << ": " << j.message;
        EXPECT_NE(j.message.find(r.said), std::string::npos) << r.said << "\n" << j.message;
    }
}

TEST(Check, ATimeLimitSaysWhatTheProgramWasDoingAndHowMuchItRead) {
    using End = check::Outcome::End;
    using Doing = check::Outcome::Doing;
    struct Row {
        End end;
        int code;
        double cpu, wall;
        Doing doing;
        std::size_t taken;
        std::string said, not_said;
    };
    check::Limits limits;
    limits.wall = 10;
    limits.cpu = 5;
    const std::string loop = "a loop that never ends?";
    const std::vector<Row> rows = {
        // A loop after the end of its input, whatever processor share a loaded machine gave it.
        {End::wall_limit, 0, 0.47, 1, Doing::running, 5,
         "it had read all its input (5 bytes) and was still running", "flush before you wait"},
        {End::wall_limit, 0, 0.1, 10, Doing::running, 5, "when a read fails at the end",
         "--timeout"},
        {End::wall_limit, 0, 9.9, 10, Doing::running, 2, "it had read 2 of the 5 bytes", "wait"},
        {End::wall_limit, 0, 9.9, 10, Doing::running, 2, loop, "--timeout"},
        // A wait, whatever its processor time.
        {End::wall_limit, 0, 0.02, 10, Doing::waiting, 5,
         "it had read all its input (5 bytes) and was waiting, not running", loop},
        {End::wall_limit, 0, 6, 10, Doing::waiting, 3, "More input was ready to read", loop},
        // A slow start: nothing read, whether busy or asleep, points at --timeout.
        {End::wall_limit, 0, 0.9, 1, Doing::running, 0, "it had read none of its input (5 bytes)",
         loop},
        {End::wall_limit, 0, 0, 1, Doing::waiting, 0, "--timeout S gives each case S seconds",
         "past the end"},
        {End::wall_limit, 0, 4, 10.2, Doing::unknown, 5,
         "(4.0 seconds of processor time in 10.2 seconds)", loop},
        {End::signaled, SIGXCPU, 5, 5.1, Doing::unknown, 5,
         "it was using the processor all along (it had read all its input (5 bytes)): a loop",
         "--timeout"},
        {End::signaled, SIGKILL, 5.2, 5.3, Doing::unknown, 1, loop, "--timeout"},
    };
    check::Case c;
    c.input = "1\n2\n3";
    c.output = "done\n";
    for (const Row& r : rows) {
        check::Outcome o;
        o.end = r.end;
        o.code = r.code;
        o.cpu_seconds = r.cpu;
        o.wall_seconds = r.wall;
        o.doing = r.doing;
        o.input_taken = r.taken;
        const check::Judgement j = check::judge(c, o, "/nonexistent", false, limits);
        EXPECT_EQ(j.verdict, check::Verdict::time_limit) << j.message;
        EXPECT_NE(j.message.find(r.said), std::string::npos) << r.said << "\n" << j.message;
        EXPECT_EQ(j.message.find(r.not_said), std::string::npos) << r.not_said << "\n" << j.message;
    }
    check::Case empty;
    check::Outcome waited;
    waited.end = End::wall_limit;
    waited.doing = Doing::waiting;
    EXPECT_NE(check::judge(empty, waited, "/nonexistent", false, limits)
                  .message.find("its input was empty and was waiting"),
              std::string::npos);
    // Where it had got to: its last lines, not its first.
    check::Outcome o;
    o.end = End::wall_limit;
    for (int line = 1; line <= 30; ++line) o.out += "menu " + std::to_string(line) + "\n";
    const std::string said = check::judge(c, o, "/nonexistent", false, limits).message;
    EXPECT_NE(said.find("the last lines that reached standard output"), std::string::npos);
    EXPECT_NE(said.find("(18 lines before)"), std::string::npos) << said;
    EXPECT_NE(said.find("menu·30$"), std::string::npos) << said;
    EXPECT_EQ(said.find("menu·1$"), std::string::npos) << said;
}

TEST(Check, LastLinesShowWhereATextEnds) {
    const std::vector<std::tuple<std::string, std::size_t, std::string>> rows = {
        {"", 3, ""},
        {"a\nb\n", 3, "      a$\n      b$\n"},
        {"a\nb\nc\nd\n", 2, "      (2 lines before)\n      c$\n      d$\n"},
        {"a\nb\nc", 2, "      (1 lines before)\n      b$\n      c\n"},
        {"a\n\n\n", 1, "      (2 lines before)\n      $\n"},
    };
    for (const auto& [text, lines, shown] : rows)
        EXPECT_EQ(check::last_lines(text, lines), shown) << text;
}

TEST(Check, TheSameDifferenceHasTheSameKeyWhateverItsContext) {
    using End = check::Outcome::End;
    struct Run {
        std::string want, got;
        int code;
        std::string err;
    };
    // Two runs of one fault, the lines around it different; and runs of other faults.
    const Run blank_a{"Size of A : 3\nEnter set : \n{1}\n", "Size of A : 3\nEnter set :\n{1}\n", 0,
                      ""};
    const Run blank_b{"menu\nmenu\nchoice\nEnter set : \n{9,8}\nend\n",
                      "menu\nmenu\nchoice\nEnter set :\n{9,8}\nend\n", 0, ""};
    const Run other_line{"x\nEnter size : \n", "x\nEnter size :\n", 0, ""};
    const Run cut_short{"Size of A : 3\nEnter set : \n{1}\n", "Size of A : 3\nEnter set : ", 0, ""};
    const Run with_status{blank_a.want, blank_a.got, 3, ""};
    const Run with_stderr{blank_a.want, blank_a.got, 0, "warning\n"};
    const Run status_only{"ok\n", "ok\n", 3, ""};
    const Run status_only_again{"ok\nfine\n", "ok\nfine\n", 3, ""};
    const Run status_other{"ok\n", "ok\n", 4, ""};
    struct Row {
        Run a, b;
        bool same;
    };
    const std::vector<Row> rows = {
        {blank_a, blank_b, true},           {blank_a, other_line, false},
        {blank_a, cut_short, false},        {blank_a, with_status, false},
        {blank_a, with_stderr, false},      {status_only, status_only_again, true},
        {status_only, status_other, false},
    };
    const check::Limits limits;
    auto key = [&](const Run& r) {
        check::Case c;
        c.output = r.want;
        check::Outcome o;
        o.end = End::exited;
        o.code = r.code;
        o.out = r.got;
        o.err = r.err;
        const check::Judgement j = check::judge(c, o, "/nonexistent", false, limits);
        EXPECT_NE(j.verdict, check::Verdict::passed);
        EXPECT_FALSE(j.key.empty());
        return j.key;
    };
    for (const Row& r : rows)
        EXPECT_EQ(key(r.a) == key(r.b), r.same) << r.a.want << "|" << r.b.want << "|" << r.b.got;
}

TEST(Check, SlipsAreNamedOnlyWhereCertain) {
    const std::vector<std::tuple<std::string, std::string, std::string>> rows = {
        {"a\nb\n", "a\nb", "the line feed at the end is missing"},
        {"a\nb", "a\nb\n", "one line feed too many at the end"},
        {"a\nb\nc\n", "a\n", "ends early: it is right up to where it stops, after 2 bytes of 6"},
        {"a\n", "a\nb\nc\n", "goes on after the expected end: 4 bytes more"},
        {"a\nb\n", "a \nb\t\n", "lines end with blanks that are not expected"},
        {"a \nb\n", "a\nb\n", "blanks are missing at the end of lines"},
        {"{1,2,3}\n", "{1,2,3} \n", "lines end with blanks"},
        {"{1, 2}\n", "{1,\n  2}\n", "right words, different spacing"},
        {"{1,2,3}\n", "{1, 2, 3}\n", ""},  // the words themselves differ
        {"{1,2,3}\n", "{1,2,4}\n", ""},
        {"abc\n", "", ""},
        {"", "x\n", ""},
    };
    for (const auto& [want, got, said] : rows) {
        const std::string s = check::slip(want, got);
        if (said.empty())
            EXPECT_EQ(s, "") << want << "|" << got;
        else
            EXPECT_NE(s.find(said), std::string::npos) << s;
    }
}

TEST(Check, QuantitiesReadRight) {
    EXPECT_EQ(check::quantity(1, "second"), "1 second");
    EXPECT_EQ(check::quantity(2, "second"), "2 seconds");
    EXPECT_EQ(check::quantity(0.5, "second"), "0.5 seconds");
    EXPECT_EQ(check::quantity(0, "line"), "0 lines");
    EXPECT_EQ(check::quantity(8, "MiB"), "8 MiB");
}

TEST(Check, DifferenceOfHugeTextsShowsOnlyItsLines) {
    // Twenty million line feeds against a short text: the excerpt stays a few lines long.
    const std::string flood(20'000'000, '\n');  // NOLINT(bugprone-string-constructor): meant
    const std::string d = check::difference("standard output", "done\n", flood);
    EXPECT_LT(d.size(), 1000u) << d.substr(0, 400);
    EXPECT_NE(d.find("more lines"), std::string::npos);
}

// A folder of its own for a test, removed at its end.
struct TempFolder {
    std::filesystem::path path;
    TempFolder() {
        std::string pattern =
            (std::filesystem::temp_directory_path() / "check_test.XXXXXX").string();
        path = ::mkdtemp(pattern.data());
    }
    ~TempFolder() { check::remove_tree(path); }
    TempFolder(const TempFolder&) = delete;
    TempFolder& operator=(const TempFolder&) = delete;
    void write(const std::string& name, const std::string& text) const {
        std::filesystem::create_directories((path / name).parent_path());
        std::ofstream(path / name, std::ios::binary) << text;
    }
};

// Writes a shell script `checker` running `body` into the case folder `t`, with `mode`.
void make_checker(const TempFolder& t, const std::string& body, unsigned mode) {
    t.write("checker", "#!/bin/sh\n" + body + "\n");
    ::chmod((t.path / "checker").c_str(), mode);
}

TEST(Check, CompareIsExactlyOneOfThreeWords) {
    using check::Compare;
    const std::vector<std::pair<std::string, std::optional<Compare>>> rows = {
        {"exact\n", Compare::exact},     {"blanks", Compare::blanks},
        {"checker\n", Compare::checker}, {"", std::nullopt},
        {"Exact\n", std::nullopt},       {"blanks \n", std::nullopt},
        {"exact\n\n", std::nullopt},     {"checker ./mine\n", std::nullopt},
        {"byte\n", std::nullopt},
    };
    for (const auto& [text, want] : rows) {
        EXPECT_EQ(check::parse_compare(text), want) << text;
        if (want) {
            EXPECT_EQ(check::compare_name(*want), check::without_line_feed(text));
        }
    }
}

TEST(Check, BlanksIgnoredComparesWordsInTheirOrder) {
    struct Row {
        std::string want, got;
        check::Verdict verdict;
    };
    using check::Verdict;
    const std::vector<Row> rows = {
        {"sum is\n5\n", "sum is\n5\n", Verdict::passed},
        {"sum is\n5\n", "sum \t is   5", Verdict::passed},  // a difference in spacing is none
        {"sum is\n5\n", "\r\nsum\r\nis\r\n5\r\n", Verdict::passed},
        {"sum is\n5\n", "is sum\n5\n", Verdict::wrong_output},  // the words reordered
        {"sum is\n5\n", "sumis 5\n", Verdict::wrong_output},    // two words joined
        {"sum is\n5\n", "sum is\n", Verdict::wrong_output},     // a word missing
        {"sum is\n5\n", "sum is\n5\n6\n", Verdict::wrong_output},
        {"", "\n \n", Verdict::passed},
    };
    check::Case c;
    c.compare = check::Compare::blanks;
    for (const Row& r : rows) {
        c.output = r.want;
        check::Outcome o;
        o.end = check::Outcome::End::exited;
        o.out = r.got;
        const check::Judgement j = check::judge(c, o, "/nonexistent", false, {});
        EXPECT_EQ(j.verdict, r.verdict) << r.want << "|" << r.got;
        EXPECT_EQ(j.message.empty(), r.verdict == Verdict::passed) << j.message;
    }
}

TEST(Check, ACheckerAcceptsRejectsOrCannotJudge) {
    using check::Verdict;
    struct Row {
        std::string body;    // the checker's shell script
        std::string output;  // what the program wrote
        Verdict verdict;
        std::vector<std::string> shown;  // what the message holds
    };
    // The checker's own check: the last line of the output is the sum of the input's numbers.
    const std::string sum =
        "read -r a b <\"$1\"; last=$(tail -n 1 \"$3\"); [ \"$last\" = $((a + b)) ] && exit 0\n"
        "echo \"got $last\"; exit 3";
    const std::vector<Row> rows = {
        {sum, "the sum:\n5\n", Verdict::passed, {}},
        {sum, "5", Verdict::passed, {}},
        {sum,
         "the sum:\n6\n",
         Verdict::wrong_output,
         {"rejected the output (its exit status 3)", "    got 6\n"}},
        // A forged verdict in the output is only shown, its escape bytes made visible.
        {sum, "6\x1b[1D\x1b[K5\n", Verdict::wrong_output, {"got 6\\x1b[1D\\x1b[K5"}},
        // Its arguments: the input, the expected output and the output, in that order.
        {"[ \"$(cat \"$1\")$(cat \"$2\")$(cat \"$3\")\" = \"2 3sumout\" ]",
         "out",
         Verdict::passed,
         {}},
        {"exit 1", "5\n", Verdict::wrong_output, {"its exit status 1)\n"}},
        {"seq 1 100; exit 1", "5\n", Verdict::wrong_output, {"    20\n    (80 more lines)\n"}},
        {"kill -SEGV $$",
         "5\n",
         Verdict::not_started,
         {"checker", "killed by signal 11", "cannot be judged"}},
        {"echo oops >&2; kill -KILL $$",
         "5\n",
         Verdict::not_started,
         {"its standard error:\n    oops"}},
    };
    for (const Row& r : rows) {
        TempFolder t;
        t.write("kind", "exercise\n");
        t.write("input", "2 3\n");
        t.write("output", "sum\n");
        t.write("compare", "checker\n");
        make_checker(t, r.body, 0755);
        const check::Case c = check::load_case(t.path);
        check::Outcome o;
        o.end = check::Outcome::End::exited;
        o.out = r.output;
        check::Containment open;
        open.sandboxed = false;  // the sandbox itself is tested by the command's scenarios
        const check::Judgement j = check::judge(c, o, "/nonexistent", false, {}, open);
        EXPECT_EQ(j.verdict, r.verdict) << r.body << "|" << j.message;
        for (const std::string& s : r.shown)
            EXPECT_NE(j.message.find(s), std::string::npos) << s << "|" << j.message;
        EXPECT_EQ(j.message.find('\x1b'), std::string::npos) << j.message;
    }
    // A program that did not end by itself is not handed to the checker.
    TempFolder t;
    t.write("kind", "exercise\n");
    t.write("compare", "checker\n");
    make_checker(t, "exit 0", 0755);
    const check::Case c = check::load_case(t.path);
    check::Outcome o;
    o.end = check::Outcome::End::signaled;
    o.code = SIGSEGV;
    check::Containment open;
    open.sandboxed = false;
    EXPECT_EQ(check::judge(c, o, "/nonexistent", false, {}, open).verdict, check::Verdict::crashed);
}

TEST(Check, CaseFilesMustBePlainAndMarksValid) {
    struct Row {
        std::function<void(const TempFolder&)> make;
        std::string refused;  // empty: loads
    };
    const std::vector<Row> rows = {
        {[](const TempFolder&) {}, ""},
        {[](const TempFolder& t) { t.write("points", "5\n"); }, ""},
        {[](const TempFolder& t) { t.write("points", "1001\n"); }, "points: not a whole number"},
        {[](const TempFolder& t) { t.write("points", "-1\n"); }, "points: not a whole number"},
        {[](const TempFolder& t) { t.write("visibility", "hidden\n"); }, ""},
        {[](const TempFolder& t) { t.write("visibility", "secret\n"); }, "visibility: not the one"},
        {[](const TempFolder& t) { ::mkfifo((t.path / "input").c_str(), 0600); },
         "input: not a regular file"},
        {[](const TempFolder& t) { ::symlink("/dev/zero", (t.path / "output").c_str()); },
         "output: a symbolic link"},
        {[](const TempFolder& t) {
             std::filesystem::create_directories(t.path / "after");
             ::symlink("/dev/zero", (t.path / "after/x").c_str());
         },
         "after/x: a symbolic link"},
        {[](const TempFolder& t) {
             std::filesystem::create_directories(t.path / "after");
             ::mkfifo((t.path / "after/fifo").c_str(), 0600);
         },
         "after/fifo: not a regular file"},
        {[](const TempFolder& t) { t.write("compare", "blanks\n"); }, ""},
        {[](const TempFolder& t) { t.write("compare", "fuzzy\n"); }, "compare: not the one word"},
        {[](const TempFolder& t) { t.write("compare", "checker\n"); },
         "checker: missing, and the case's compare file says checker"},
        {[](const TempFolder& t) { make_checker(t, "exit 0", 0755); },
         "checker: a checker, but the case's compare file does not say checker"},
        {[](const TempFolder& t) {
             t.write("compare", "checker");
             make_checker(t, "exit 0", 0644);
         },
         "checker: not executable"},
        {[](const TempFolder& t) {
             t.write("compare", "checker");
             ::symlink("/bin/true", (t.path / "checker").c_str());
         },
         "checker: a symbolic link"},
        {[](const TempFolder& t) {
             t.write("compare", "checker");
             std::filesystem::create_directories(t.path / "checker");
         },
         "checker: not a regular file"},
        {[](const TempFolder& t) {
             t.write("compare", "checker");
             t.write("stdout-to", "/dev/full");
             make_checker(t, "exit 0", 0755);
         },
         "checker: a checker needs the standard output"},
        {[](const TempFolder& t) {
             t.write("compare", "checker");
             make_checker(t, "exit 0", 0755);
         },
         ""},
    };
    for (const Row& r : rows) {
        TempFolder t;
        t.write("kind", "exercise\n");
        r.make(t);
        try {
            check::Case c = check::load_case(t.path);
            EXPECT_EQ(r.refused, "") << "loaded";
        } catch (const std::runtime_error& e) {
            EXPECT_NE(std::string(e.what()).find(r.refused), std::string::npos)
                << e.what() << " | " << r.refused;
            EXPECT_NE(r.refused, "") << e.what();
        }
    }
    TempFolder t;
    t.write("kind", "exercise\n");
    t.write("points", "7");
    t.write("visibility", "hidden");
    t.write("after/sub/f.txt", "x");
    check::Case c = check::load_case(t.path);
    EXPECT_EQ(c.points, 7u);
    EXPECT_TRUE(c.hidden);
    ASSERT_EQ(c.after.size(), 1u);
    EXPECT_EQ(c.after[0].path, "sub/f.txt");
}

TEST(Check, TheCollectionsOwnProgramIsKnownByItsBytes) {
    TempFolder t;
    std::string program(200000, 'p');
    program[123456] = 'q';  // past the first chunk read
    t.write("own/setcalc", program);
    t.write("own/textkit", std::string(10, 't'));
    std::string same_size = program;
    same_size[199999] = 'x';
    struct Row {
        std::string file, content;
        bool own;
    };
    const std::vector<Row> rows = {
        {"copy", program, true},
        {"one_more_byte", program + '\0', false},
        {"same_size_other_end", same_size, false},
        {"other_program", std::string(10, 't'), true},
        {"empty", "", false},
    };
    check::own_programs() = {t.path / "own/setcalc", t.path / "own/textkit"};
    for (const Row& r : rows) {
        t.write("student/" + r.file, r.content);
        EXPECT_EQ(!check::own_program_of(t.path / "student" / r.file).empty(), r.own) << r.file;
    }
    std::filesystem::create_hard_link(t.path / "own/setcalc", t.path / "student/hard");
    EXPECT_EQ(check::own_program_of(t.path / "student/hard"), t.path / "own/setcalc");
    check::own_programs().clear();
}

TEST(Check, RemoveTreeGoesThroughDepthAndPermissions) {
    TempFolder t;
    std::filesystem::path deep = t.path / "top";
    std::filesystem::create_directories(deep);
    // 3000 nested folders, the deepest ones closed to everyone, a link out of the tree.
    ASSERT_EQ(::chdir(deep.c_str()), 0);
    for (int i = 0; i < 3000; ++i) {
        ASSERT_EQ(::mkdir("d", 0700), 0);
        ASSERT_EQ(::chdir("d"), 0);
    }
    std::ofstream("f") << "x";
    ASSERT_EQ(::symlink(t.path.c_str(), "out"), 0);
    ASSERT_EQ(::chdir(".."), 0);
    ::chmod("d", 0);
    ASSERT_EQ(::chdir(t.path.c_str()), 0);
    ::chmod(deep.c_str(), 0500);
    EXPECT_EQ(check::remove_tree(deep), "");
    EXPECT_FALSE(std::filesystem::exists(deep));
    EXPECT_TRUE(std::filesystem::exists(t.path));  // the link's target stays
}

// One entry of an archive made by a test: its path, its kind ('f' file, 'x' executable
// file, 's' file whose size the header does not say, 'd' folder, 'l' symbolic link, 'h' hard link,
// 'c' character device, 'p' FIFO), its bytes (a link's target), and for a file how many zero bytes
// follow them, streamed through the writer.
struct Item {
    std::string path;
    char kind = 'f';
    std::string content;
    std::size_t zeros = 0;
};

// Writes `items` as a zip (deflated) or a gzipped tar archive `file`, with libarchive's
// writer.
void make_archive(const std::filesystem::path& file, bool zip, const std::vector<Item>& items) {
    struct archive* a = archive_write_new();
    if (zip) {
        archive_write_set_format_zip(a);
    } else {
        archive_write_set_format_pax_restricted(a);
        archive_write_add_filter_gzip(a);
    }
    ASSERT_EQ(archive_write_open_filename(a, file.c_str()), ARCHIVE_OK);
    const std::string zeros(1U << 20, '\0');
    for (const Item& i : items) {
        struct archive_entry* e = archive_entry_new();
        archive_entry_set_pathname(e, i.path.c_str());
        archive_entry_set_perm(e, i.kind == 'x' ? 0700 : 0600);
        const bool file_kind = i.kind == 'f' || i.kind == 's' || i.kind == 'x';
        archive_entry_set_filetype(e, i.kind == 'd'   ? AE_IFDIR
                                      : i.kind == 'l' ? AE_IFLNK
                                      : i.kind == 'c' ? AE_IFCHR
                                      : i.kind == 'p' ? AE_IFIFO
                                                      : AE_IFREG);
        if (i.kind == 'l') archive_entry_set_symlink(e, i.content.c_str());
        if (i.kind == 'h') archive_entry_set_hardlink(e, i.content.c_str());
        if (i.kind != 's')
            archive_entry_set_size(e, static_cast<la_int64_t>(i.content.size() + i.zeros));
        ASSERT_EQ(archive_write_header(a, e), ARCHIVE_OK) << i.path;
        if (file_kind) {
            archive_write_data(a, i.content.data(), i.content.size());
            for (std::size_t left = i.zeros; left > 0;) {
                const std::size_t n = std::min(left, zeros.size());
                archive_write_data(a, zeros.data(), n);
                left -= n;
            }
        }
        archive_entry_free(e);
    }
    archive_write_close(a);
    archive_write_free(a);
}

// A tar archive of one file whose header claims `size` bytes, and a little of them: what
// a reader learns before it reads any data.
std::string tar_claiming(const std::string& name, std::uint64_t size) {
    std::string h(512, '\0');
    auto put = [&](std::size_t at, const std::string& field) {
        h.replace(at, field.size(), field);
    };
    char octal[16];
    put(0, name);
    put(100, "0000644");
    put(108, "0000000");
    put(116, "0000000");
    std::snprintf(octal, sizeof octal, "%011llo", static_cast<unsigned long long>(size));
    put(124, octal);
    put(136, "00000000000");
    put(148, "        ");
    put(156, "0");
    put(257, std::string("ustar\0"
                         "00",
                         8));
    unsigned sum = 0;
    for (char c : h) sum += static_cast<unsigned char>(c);
    std::snprintf(octal, sizeof octal, "%06o", sum);
    put(148, std::string(octal) + '\0');
    return h + std::string(64U << 10, '\0');
}

TEST(Arrive, ArchivesGiveOnlyFilesAndFoldersWithinTheirBounds) {
    struct Row {
        std::string name;
        bool zip;
        std::vector<Item> items;
        std::string refused;               // "": unpacked
        std::vector<std::string> present;  // files that must be there when unpacked
    };
    std::vector<Item> many;
    many.reserve(10000);
    for (int i = 0; i < 10000; ++i) many.push_back({std::to_string(i) + ".c", 'f', "", 0});
    std::vector<Item> large;  // 15 MiB of zeros five times: each within its bound, not all
    large.reserve(5);
    for (int i = 0; i < 5; ++i) large.push_back({std::to_string(i) + ".c", 'f', "", 15U << 20});
    // An absolute path of this test's own, so that no other run can make or see it.
    TempFolder elsewhere;
    const std::string absolute = (elsewhere.path / "arrive_absolute.c").string();
    const std::vector<Row> rows = {
        {"plain zip",
         true,
         {{"proj", 'd', "", 0}, {"proj/main.c", 'f', "int main(void) {}\n", 0}},
         "",
         {"proj/main.c"}},
        {"plain tar.gz",
         false,
         {{"./a/b/c.c", 'f', "x", 0}, {"a/inner.zip", 'f', "PK", 0}},
         "",
         {"a/b/c.c", "a/inner.zip"}},
        {"dot dot", true, {{"../x.c", 'f', "x", 0}}, "leads out of the archive", {}},
        {"dot dot inside", false, {{"a/../../x.c", 'f', "x", 0}}, "leads out", {}},
        {"absolute", false, {{absolute, 'f', "x", 0}}, "absolute path", {}},
        {"symbolic link",
         false,
         {{"ok.c", 'f', "x", 0}, {"a.c", 'l', "/etc/passwd", 0}},
         "a.c is a symbolic link",
         {}},
        {"symbolic link in zip", true, {{"a.c", 'l', "../../x", 0}}, "symbolic link", {}},
        {"hard link",
         false,
         {{"a.c", 'f', "x", 0}, {"b.c", 'h', "a.c", 0}},
         "b.c is a hard link",
         {}},
        {"device", false, {{"null", 'c', "", 0}}, "neither a file nor a folder", {}},
        {"fifo", false, {{"pipe", 'p', "", 0}}, "neither a file nor a folder", {}},
        {"twice", false, {{"a.c", 'f', "1", 0}, {"a.c", 'f', "2", 0}}, "holds a.c twice", {}},
        {"file then folder",
         false,
         {{"a", 'f', "1", 0}, {"a/b.c", 'f', "2", 0}},
         "both a file and a folder",
         {}},
        {"deep", false, {{"1/2/3/4/5/6/7/8/9/x.c", 'f', "x", 0}}, "more than 8 levels deep", {}},
        {"ten thousand entries", false, many, "more than 1000 files and folders", {}},
        {"75 MiB of zeros", true, large, "the archive holds more than 64 MiB", {}},
        {"17 MiB of zeros, streamed", true, {{"big.c", 's', "", 17U << 20}}, "16 MiB", {}},
        {"17 MiB of zeros in a tar.gz", false, {{"big.c", 'f', "", 17U << 20}}, "16 MiB", {}},
    };
    for (const Row& r : rows) {
        TempFolder t;
        const std::filesystem::path file = t.path / (r.zip ? "s.zip" : "s.tar.gz");
        make_archive(file, r.zip, r.items);
        const std::filesystem::path into = t.path / "out" / "unpacked";
        std::filesystem::create_directories(into.parent_path());
        std::string refused;
        try {
            check::unpack(file, into);
        } catch (const std::exception& e) {
            refused = e.what();
        }
        if (r.refused.empty()) {
            EXPECT_EQ(refused, "") << r.name;
            for (const std::string& f : r.present)
                EXPECT_TRUE(std::filesystem::is_regular_file(into / f)) << r.name << ": " << f;
        } else {
            EXPECT_NE(refused.find(r.refused), std::string::npos) << r.name << ": " << refused;
            EXPECT_FALSE(std::filesystem::exists(into)) << r.name << ": something was left";
        }
        EXPECT_FALSE(std::filesystem::exists(t.path / "out" / "x.c")) << r.name;
        EXPECT_FALSE(std::filesystem::exists(t.path / "x.c")) << r.name;
    }
    EXPECT_FALSE(std::filesystem::exists(absolute));
}

TEST(Arrive, UnpackedFilesAreReadableByAllAndKeepOnlyTheirExecuteBit) {
    TempFolder t;
    make_archive(t.path / "s.tar.gz", false,
                 {{"bin/setcalc", 'x', "#!/bin/sh\n", 0}, {"bin/notes", 'f', "x", 0}});
    const mode_t before = ::umask(077);  // the checker's own umask is no matter
    check::unpack(t.path / "s.tar.gz", t.path / "out");
    ::umask(before);
    auto mode = [&](const std::string& name) {
        struct stat st {};
        ::lstat((t.path / "out" / name).c_str(), &st);
        return st.st_mode & 07777;
    };
    EXPECT_EQ(mode(""), 0755U);
    EXPECT_EQ(mode("bin"), 0755U);
    EXPECT_EQ(mode("bin/setcalc"), 0755U);
    EXPECT_EQ(mode("bin/notes"), 0644U);
}

TEST(Arrive, AHeaderClaimingAGigabyteIsRefusedBeforeItsData) {
    TempFolder t;
    t.write("claim.tar", tar_claiming("big.c", 1ULL << 30));
    const auto started = std::chrono::steady_clock::now();
    try {
        check::unpack(t.path / "claim.tar", t.path / "out");
        ADD_FAILURE() << "a file claiming 1 GiB was unpacked";
    } catch (const std::exception& e) {
        EXPECT_NE(std::string(e.what()).find("big.c holds 1024 MiB"), std::string::npos)
            << e.what();
    }
    EXPECT_FALSE(std::filesystem::exists(t.path / "out"));
    EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(5));
    // What is not an archive, or is a link to one, is refused as well.
    t.write("notes.zip", "not an archive at all");
    EXPECT_THROW(check::unpack(t.path / "notes.zip", t.path / "out"), std::runtime_error);
    std::filesystem::create_symlink(t.path / "claim.tar", t.path / "link.tar");
    EXPECT_THROW(check::unpack(t.path / "link.tar", t.path / "out"), std::runtime_error);
    EXPECT_FALSE(std::filesystem::exists(t.path / "out"));
}

TEST(Arrive, TheSubmissionIsFoundWhereverItArrivesAndWhatWasThereIsSaid) {
    using Kind = check::Arrival::Kind;
    struct Row {
        std::string name;
        // Files of the student's folder: "NAME" a plain file, "NAME*" an executable one,
        // "NAME/" a folder, "NAME@" a symbolic link, "NAME.zip:" a zip holding proj/main.c,
        // "NAME.tar.gz|" a tar.gz holding only a README, "NAME.zip^" a zip holding a zip
        // that holds a source.
        std::vector<std::string> files;
        Kind kind;
        std::string path;  // where the submission is, below the student's folder ("" top)
        std::string note;  // a part of what is said
    };
    const std::vector<Row> rows = {
        {"program", {"setcalc*"}, Kind::program, "setcalc", ""},
        {"sources beside a program",
         {"setcalc*", "setcalc.c"},
         Kind::sources,
         "",
         "setcalc.c was built; the program setcalc beside it was not used"},
        {"several sources", {"a.c", "b.cpp", "c.h"}, Kind::sources, "", "a.c and b.cpp were built"},
        {"a Makefile", {"Makefile", "src/", "src/x.c"}, Kind::makefile, "", "the Makefile made"},
        {"sources win over a Makefile", {"Makefile", "x.c"}, Kind::sources, "", "x.c was built"},
        {"a nested folder",
         {"setcalc-main/", "setcalc-main/setcalc.c", ".git/", "__MACOSX/"},
         Kind::sources,
         "setcalc-main",
         "found in setcalc-main/"},
        {"a nested program", {"build/", "build/setcalc*"}, Kind::program, "build/setcalc", ""},
        {"only a.out", {"a.out*"}, Kind::nothing, "", "only a.out, an executable of another name"},
        {"papers",
         {"notes.txt", "report.pdf"},
         Kind::nothing,
         "",
         "notes.txt and report.pdf, no program or source"},
        {"several folders",
         {"a/", "b/", "c/", "a/x.c"},
         Kind::nothing,
         "",
         "3 folders (a, b and c) and no source at the top"},
        {"an empty folder", {}, Kind::nothing, "", "an empty folder"},
        {"a nested folder of nothing",
         {"sub/", "sub/readme"},
         Kind::nothing,
         "",
         "sub/ holds readme"},
        {"not executable",
         {"setcalc"},
         Kind::nothing,
         "",
         "setcalc is there but is not executable"},
        {"a link", {"setcalc@"}, Kind::refused, "", "setcalc is a symbolic link"},
        {"a linked source", {"main.c@", "util.c"}, Kind::refused, "", "main.c: a symbolic link"},
        {"a linked folder", {"sub@"}, Kind::nothing, "", "sub (a symbolic link), no program"},
        {"a zip", {"work.zip:"}, Kind::sources, "", "unpacked from work.zip, in proj/"},
        {"a tar.gz of no source",
         {"work.tar.gz|"},
         Kind::nothing,
         "",
         "work.tar.gz, an archive holding no program or source: README"},
        {"an archive in the archive",
         {"outer.zip^"},
         Kind::nothing,
         "",
         "outer.zip, an archive holding no program or source: inner.zip"},
        {"two archives", {"a.zip:", "b.zip:"}, Kind::nothing, "", "2 archives (a.zip and b.zip)"},
        {"a repository",
         {".git/", "README.md", ".github/", "src/", "src/main.c", "src/sets.c", "include/",
          "include/sets.h", "tests/", "tests/test.c", "build/", "build/setcalc*"},
         Kind::sources,
         "",
         "found in src/, with the headers of include/; build/ and tests/ were set aside"},
        {"a repository without include/",
         {"src/", "src/main.c", "docs/"},
         Kind::sources,
         "",
         "found in src/"},
        {"a CMake project",
         {"CMakeLists.txt", "src/", "src/main.c"},
         Kind::cmake,
         "",
         "its CMakeLists.txt was built with cmake"},
        {"an empty source", {"setcalc.c~"}, Kind::nothing, "", "setcalc.c is empty"},
        {"empty sources", {"main.c~", "util.c~"}, Kind::nothing, "", "main.c and util.c are empty"},
        {"an empty program", {"setcalc*~"}, Kind::nothing, "", "setcalc is empty"},
        {"an empty source in a folder",
         {"hw/", "hw/main.c~"},
         Kind::nothing,
         "",
         "hw/: main.c is empty"},
    };
    for (const Row& r : rows) {
        TempFolder t;
        const std::filesystem::path student = t.path / "student";
        std::filesystem::create_directories(student);
        std::filesystem::create_directories(t.path / "base");
        for (std::string f : r.files) {
            const char mark = f.back();
            if (mark == '/') {
                std::filesystem::create_directories(student / f);
            } else if (mark == '@') {
                f.pop_back();
                std::filesystem::create_symlink("/bin/true", student / f);
            } else if (mark == ':' || mark == '|' || mark == '^') {
                f.pop_back();
                const bool zip = f.ends_with(".zip");
                if (mark == ':')
                    make_archive(student / f, zip,
                                 {{"proj", 'd', "", 0}, {"proj/main.c", 'f', "int main(){}", 0}});
                if (mark == '|') make_archive(student / f, zip, {{"README", 'f', "hello", 0}});
                if (mark == '^') {
                    make_archive(t.path / "inner.zip", true, {{"main.c", 'f', "x", 0}});
                    std::ifstream in(t.path / "inner.zip", std::ios::binary);
                    const std::string inner((std::istreambuf_iterator<char>(in)), {});
                    make_archive(student / f, true, {{"inner.zip", 'f', inner, 0}});
                }
            } else {
                const bool empty = mark == '~';  // "NAME~": an empty file
                if (empty) f.pop_back();
                const bool executable = f.back() == '*';
                if (executable) f.pop_back();
                t.write("student/" + f, empty ? "" : "x");
                if (executable) ::chmod((student / f).c_str(), 0755);
            }
        }
        const check::Arrival a = check::find_submission(student, "setcalc", t.path / "base");
        EXPECT_EQ(a.kind, r.kind) << r.name << ": " << a.note;
        const std::string said = a.where + "\n" + a.note;
        EXPECT_NE(said.find(r.note), std::string::npos) << r.name << ": " << said;
        if (a.unpacked.empty() &&
            (r.kind == Kind::program || r.kind == Kind::sources || r.kind == Kind::makefile)) {
            EXPECT_EQ(a.path, r.path.empty() ? student : student / r.path) << r.name;
        }
        if (!a.unpacked.empty()) {  // in the base folder given, and nowhere else
            EXPECT_EQ(std::filesystem::path(a.unpacked).parent_path(), t.path / "base");
            if (r.kind == Kind::sources) {
                EXPECT_TRUE(std::filesystem::is_regular_file(a.path / "main.c")) << r.name;
            }
            if (!a.gathered.empty()) {  // a repository's src/, gathered with its headers
                const bool include = std::count(r.files.begin(), r.files.end(), "include/") > 0;
                EXPECT_EQ(std::filesystem::is_regular_file(a.path / "sets.h"), include) << r.name;
                EXPECT_FALSE(std::filesystem::exists(a.path / "test.c")) << r.name;
            }
        }
    }
}

// The end of a zip: its end record claiming `entries` entries in a directory of `bytes`
// bytes, preceded, when `zip64`, by ZIP64's record and locator claiming them instead.
std::string zip_end(std::uint64_t entries, std::uint64_t bytes, bool zip64) {
    auto little = [](std::uint64_t v, int n) {
        std::string s;
        for (int i = 0; i < n; ++i) s += static_cast<char>((v >> (8 * i)) & 0xFF);
        return s;
    };
    std::string z = "PK\x03\x04" + std::string(26, '\0');  // the start of a zip
    if (zip64) {
        const std::uint64_t at = z.size();
        z += little(0x06064b50, 4) + little(44, 8) + little(45, 2) + little(45, 2) + little(0, 4) +
             little(0, 4) + little(entries, 8) + little(entries, 8) + little(bytes, 8) +
             little(0, 8);
        z += little(0x07064b50, 4) + little(0, 4) + little(at, 8) + little(1, 4);
        entries = 0xFFFF;
        bytes = 0xFFFFFFFF;
    }
    return z + little(0x06054b50, 4) + little(0, 2) + little(0, 2) + little(entries, 2) +
           little(entries, 2) + little(bytes, 4) + little(0, 4) + little(0, 2);
}

TEST(Arrive, AZipsDirectoryIsBoundedBeforeItIsRead) {
    struct Row {
        std::string name;
        std::uint64_t entries, bytes;
        bool zip64;
        std::string said;  // a part of the refusal, or "" when the directory is within bounds
    };
    const std::vector<Row> rows = {
        {"a small directory", 10, 2000, false, ""},
        {"too many entries", 5000, 2000, false, "its directory lists 5000 entries"},
        {"a directory of 98 MB", 10, 98000000, false, "its directory takes"},
        {"ZIP64 entries", 1ULL << 40, 2000, true, "entries; an archive may hold at most 1000"},
        {"a ZIP64 directory of a terabyte", 10, 1ULL << 40, true, "its directory takes"},
    };
    for (const Row& r : rows) {
        TempFolder t;
        t.write("c.zip", zip_end(r.entries, r.bytes, r.zip64));
        const int fd = ::open((t.path / "c.zip").c_str(), O_RDONLY | O_CLOEXEC);
        ASSERT_GE(fd, 0);
        std::string said;
        try {
            check::bound_zip_directory(fd, check::UnpackBounds{});
        } catch (const std::runtime_error& e) {
            said = e.what();
        }
        ::close(fd);
        if (r.said.empty()) {
            EXPECT_EQ(said, "") << r.name;
        } else {
            EXPECT_NE(said.find(r.said), std::string::npos) << r.name << ": " << said;
        }
    }
    // A class's archive has bounds of its own: more entries, each as small.
    TempFolder t;
    t.write("c.zip", zip_end(5000, 5000ULL * 200, false));
    const int fd = ::open((t.path / "c.zip").c_str(), O_RDONLY | O_CLOEXEC);
    ASSERT_GE(fd, 0);
    EXPECT_NO_THROW(check::bound_zip_directory(fd, check::kClassArchive));
    ::close(fd);
}

TEST(Platform, MoodleNamesGiveTheStudentTheirIdAndTheKind) {
    struct Row {
        std::string entry;
        bool read;
        std::string name, id, kind, rest;
    };
    const std::vector<Row> rows = {
        {"Jane Doe_123_assignsubmission_file_", true, "Jane Doe", "123", "file", ""},
        {"Jane Doe_123_assignsubmission_onlinetext_", true, "Jane Doe", "123", "onlinetext", ""},
        {"Jane Doe_123_assignsubmission_file_setcalc.c", true, "Jane Doe", "123", "file",
         "setcalc.c"},
        {"Ann_Marie O'Neil_77_assignsubmission_file_", true, "Ann_Marie O'Neil", "77", "file", ""},
        {"Zoé Ünal_5_assignsubmission_file_a_b.c", true, "Zoé Ünal", "5", "file", "a_b.c"},
        {"Jane Doe_12x_assignsubmission_file_", false, "", "", "", ""},
        {"_123_assignsubmission_file_", false, "", "", "", ""},
        {"Jane Doe_assignsubmission_file_", false, "", "", "", ""},
        {"Jane Doe_123_assignsubmission_", false, "", "", "", ""},
        {"jane", false, "", "", "", ""},
    };
    for (const Row& r : rows) {
        const auto m = check::moodle_name(r.entry);
        ASSERT_EQ(m.has_value(), r.read) << r.entry;
        if (!m) continue;
        EXPECT_EQ(m->name, r.name) << r.entry;
        EXPECT_EQ(m->id, r.id) << r.entry;
        EXPECT_EQ(m->kind, r.kind) << r.entry;
        EXPECT_EQ(m->rest, r.rest) << r.entry;
    }
}

TEST(Platform, CanvasNamesGiveTheStudentTheFileAndItsResubmission) {
    struct Row {
        std::string entry;
        bool read;
        std::string who, user, submission, file;
        bool late;
        unsigned resubmission;
    };
    const std::vector<Row> rows = {
        {"doejane_12345_67890_setcalc.c", true, "doejane", "12345", "67890", "setcalc.c", false, 0},
        {"doejane_LATE_12345_67890_setcalc.c", true, "doejane", "12345", "67890", "setcalc.c", true,
         0},
        {"doejane_late_1_2_setcalc-1.c", true, "doejane", "1", "2", "setcalc.c", true, 1},
        {"doejane_1_2_sets-12.h", true, "doejane", "1", "2", "sets.h", false, 12},
        {"doejane_1_2_my_file-2", true, "doejane", "1", "2", "my_file", false, 2},
        {"doejane_1_2_my-file.c", true, "doejane", "1", "2", "my-file.c", false, 0},
        {"doejane_1_2_-3.c", true, "doejane", "1", "2", "-3.c", false, 0},
        {"doejane_1_2_.hidden", true, "doejane", "1", "2", ".hidden", false, 0},
        {"doejane_1_2_", false, "", "", "", "", false, 0},
        {"doejane_x1_2_a.c", false, "", "", "", "", false, 0},
        {"doejane_late_1_a.c", false, "", "", "", "", false, 0},
        {"_1_2_a.c", false, "", "", "", "", false, 0},
        {"notes.txt", false, "", "", "", "", false, 0},
    };
    for (const Row& r : rows) {
        const auto c = check::canvas_name(r.entry);
        ASSERT_EQ(c.has_value(), r.read) << r.entry;
        if (!c) continue;
        EXPECT_EQ(c->who, r.who) << r.entry;
        EXPECT_EQ(c->user, r.user) << r.entry;
        EXPECT_EQ(c->submission, r.submission) << r.entry;
        EXPECT_EQ(c->file, r.file) << r.entry;
        EXPECT_EQ(c->late, r.late) << r.entry;
        EXPECT_EQ(c->resubmission, r.resubmission) << r.entry;
    }
}

TEST(Platform, AClassFolderIsReadAsItsPlatformExportedIt) {
    TempFolder t;
    std::filesystem::create_directories(t.path / "work");
    // Canvas: a resubmission wins under the file's own name; a late mark; a loose file.
    t.write("canvas/doejane_1_10_sets.c", "old");
    t.write("canvas/doejane_1_10_sets-1.c", "new");
    t.write("canvas/doejane_1_10_sets.h", "h");
    t.write("canvas/smithbob_LATE_2_20_main.c", "m");
    t.write("canvas/notes.txt", "n");
    const check::ClassFolder c = check::read_class(t.path / "canvas", t.path / "work");
    EXPECT_EQ(c.platform, "canvas");
    ASSERT_EQ(c.students.size(), 2U);
    EXPECT_EQ(c.students[0].name, "doejane");
    EXPECT_EQ(c.students[0].id, "1");
    EXPECT_EQ(c.students[0].late, std::optional<bool>(false));
    EXPECT_EQ(c.students[1].late, std::optional<bool>(true));
    std::ifstream in(c.students[0].folder / "sets.c");
    EXPECT_EQ(std::string((std::istreambuf_iterator<char>(in)), {}), "new");
    EXPECT_TRUE(std::filesystem::is_regular_file(c.students[0].folder / "sets.h"));
    EXPECT_FALSE(std::filesystem::exists(c.students[0].folder / "sets-1.c"));
    EXPECT_NE(c.students[0].note.find("sets-1.c used as sets.c"), std::string::npos)
        << c.students[0].note;
    EXPECT_EQ(c.unplaced, std::vector<std::string>{"notes.txt"});
    for (const auto& made : c.made) EXPECT_EQ(made.parent_path(), t.path / "work");
    // Moodle: one student per id, the online text set aside and said.
    t.write("moodle/Jane Doe_7_assignsubmission_file_/main.c", "x");
    t.write("moodle/Jane Doe_7_assignsubmission_onlinetext_/onlinetext.html", "x");
    t.write("moodle/Cy Young_8_assignsubmission_onlinetext_/onlinetext.html", "x");
    const check::ClassFolder m = check::read_class(t.path / "moodle", t.path / "work");
    EXPECT_EQ(m.platform, "moodle");
    ASSERT_EQ(m.students.size(), 2U);
    EXPECT_EQ(m.students[1].name, "Jane Doe");
    EXPECT_EQ(m.students[1].folder, t.path / "moodle/Jane Doe_7_assignsubmission_file_");
    EXPECT_NE(m.students[1].note.find("onlinetext"), std::string::npos);
    EXPECT_NE(m.students[0].note.find("no file was handed in"), std::string::npos);
    // GitHub Classroom: the assignment's prefix is not the student's name.
    t.write("gh/hw1-ann/.git/HEAD", "x");
    t.write("gh/hw1-bo-b/.git/HEAD", "x");
    const check::ClassFolder g = check::read_class(t.path / "gh", t.path / "work");
    EXPECT_EQ(g.platform, "github-classroom");
    ASSERT_EQ(g.students.size(), 2U);
    EXPECT_EQ(g.students[0].name, "ann");
    EXPECT_EQ(g.students[1].name, "bo-b");
    EXPECT_THROW(check::read_class(t.path / "none", t.path / "work"), std::runtime_error);
}

TEST(Arrive, NamesAreListedAsAPersonReadsThem) {
    using V = std::vector<std::string>;
    EXPECT_EQ(check::some_names(V{}), "");
    EXPECT_EQ(check::some_names(V{"a"}), "a");
    EXPECT_EQ(check::some_names(V{"a", "b"}), "a and b");
    EXPECT_EQ(check::some_names(V{"a", "b", "c"}), "a, b and c");
    EXPECT_EQ(check::some_names(V{"a", "b", "c", "d", "e"}), "a, b, c and 2 more");
    EXPECT_EQ(check::some_names(V{"tab\there"}), "tab\\there");
}

}  // namespace

namespace {

TEST(Regrade, SourcesAreComparedWithoutTheirCommentsAndBlanks) {
    struct Row {
        std::string a, b;
        bool same;
    };
    const std::string base = "int main(void) {\n    return 0;\n}\n";
    const std::vector<Row> rows = {
        {base, "int main(void){return 0;}", true},
        {base, "// mine\nint  main ( void )\t{ /* the end */ return 0; }\n", true},
        {base, "int main(void) { return 1; }", false},
        {base, "intmain(void) { return 0; }", false},  // blanks between words count
        {"puts(\"a  b\");", "puts(\"a b\");", false},  // a literal's blanks count
        {"puts(\"// no comment\");", "puts(\"\");", false},
        {"c = '\\'';  x", "c = '\\''; x", true},  // an escaped quote ends no literal
        {"a /* open", "a", true},
    };
    for (const Row& r : rows)
        EXPECT_EQ(check::normalised_source(r.a) == check::normalised_source(r.b), r.same)
            << r.a << " | " << r.b << " -> " << check::normalised_source(r.a) << " | "
            << check::normalised_source(r.b);
}

TEST(Regrade, IdenticalSubmissionsAreNamedTogether) {
    const std::filesystem::path top =
        std::filesystem::temp_directory_path() / ("regrade_test." + std::to_string(::getpid()));
    std::filesystem::remove_all(top);
    const auto put = [&](const std::string& file, const std::string& text) {
        std::filesystem::create_directories((top / file).parent_path());
        std::ofstream(top / file) << text;
    };
    put("ann/main.c", "int main(void) { return 0; }\n");
    put("ben/copy.c", "/* mine! */\nint main(void)\n{\n  return 0;\n}\n");
    put("cy/main.c", "int main(void) { return 1; }\n");
    put("dee/notes.txt", "nothing to build");
    std::vector<check::SubmissionResult> all(4);
    const char* const names[] = {"ann", "ben", "cy", "dee"};
    for (std::size_t k = 0; k < all.size(); ++k) {
        all[k].submission = names[k];
        all[k].sources = check::sources_fingerprint(top / names[k], false);
    }
    std::filesystem::remove_all(top);
    EXPECT_EQ(all[0].sources, all[1].sources);
    EXPECT_NE(all[0].sources, all[2].sources);
    EXPECT_EQ(all[3].sources, "");
    check::name_identical(all);
    EXPECT_EQ(all[0].same_sources, std::vector<std::string>{"ben"});
    EXPECT_EQ(all[1].same_sources, std::vector<std::string>{"ann"});
    EXPECT_TRUE(all[2].same_sources.empty());
    EXPECT_TRUE(all[3].same_sources.empty());
    const std::string csv = check::grades_csv(all);
    EXPECT_NE(csv.find("build,same_sources\r\n"), std::string::npos) << csv;
    EXPECT_NE(csv.find("ann,0,0,0.0,executable,ben\r\n"), std::string::npos) << csv;
    EXPECT_NE(csv.find("cy,0,0,0.0,executable,\r\n"), std::string::npos) << csv;
    const std::string page = check::report_page(all);
    EXPECT_NE(page.find("<h2>Identical sources</h2>"), std::string::npos);
    EXPECT_NE(page.find("the same sources as <span class=\"name\">ben</span>"), std::string::npos);
}

check::SubmissionResult student(const std::string& name, check::Verdict v) {
    check::SubmissionResult s;
    s.program = "setcalc";
    s.submission = name;
    s.build_verdict = "built";
    s.build_message = "setcalc.c was built\n";
    s.sources = "abc";
    check::CaseResult r;
    r.name = "random-1";
    r.verdict = v;
    r.points = 2;
    r.score = v == check::Verdict::passed ? 2 : 0;
    r.message = "  the message\n";
    r.session = "the union of {} and {1}";
    r.fed = "1\n";
    r.want = check::keep("{1}\n");
    r.got = check::keep("{}\n");
    s.cases.push_back(r);
    return s;
}

TEST(Regrade, AReportReadBackKeepsWhatThePageShows) {
    const std::vector<check::SubmissionResult> all = {student("ann", check::Verdict::wrong_output),
                                                      student("ben", check::Verdict::passed)};
    std::string jsonl;
    for (const check::SubmissionResult& s : all) jsonl += check::to_json(s) + "\n";
    const std::vector<check::SubmissionResult> back = check::read_results(jsonl);
    ASSERT_EQ(back.size(), 2U);
    EXPECT_EQ(check::grades_csv(back), check::grades_csv(all));
    EXPECT_EQ(back[0].sources, "abc");
    EXPECT_EQ(back[0].build_message, "setcalc.c was built\n");
    const check::CaseResult& r = back[0].cases.at(0);
    EXPECT_EQ(r.session, "the union of {} and {1}");
    ASSERT_EQ(r.got.parts.size(), 1U);
    EXPECT_EQ(r.got.parts[0].bytes, "{}\n");
    EXPECT_EQ(r.actual.text, "{}\n");  // the page's excerpt, remade
    EXPECT_EQ(r.points, 2U);
    EXPECT_EQ(r.message, "  the message\n");
    EXPECT_THROW(check::read_results("{\"cases\": [{\"verdict\": \"nonsense\"}]}\n"),
                 std::runtime_error);
    EXPECT_THROW(check::read_results("not json\n"), std::runtime_error);
}

TEST(Regrade, TheRegradedReplaceTheirEntriesAndTheOthersStay) {
    const std::vector<check::SubmissionResult> kept = {student("ann", check::Verdict::passed),
                                                       student("cy", check::Verdict::passed)};
    const std::vector<check::SubmissionResult> fresh = {student("cy", check::Verdict::crashed),
                                                        student("bo", check::Verdict::passed)};
    const std::vector<check::SubmissionResult> all = check::merged_class(kept, fresh);
    ASSERT_EQ(all.size(), 3U);
    EXPECT_EQ(all[0].submission, "ann");
    EXPECT_EQ(all[1].submission, "bo");  // a new student, in name order
    EXPECT_EQ(all[2].submission, "cy");
    EXPECT_EQ(all[2].cases[0].verdict, check::Verdict::crashed);
    const check::Grading g{"setcalc", 1234567890123456789ULL, 42};
    const auto back = check::read_grading(check::grading_json(g));
    ASSERT_TRUE(back.has_value());
    EXPECT_EQ(back->program, "setcalc");
    EXPECT_EQ(back->cases, g.cases);
    EXPECT_EQ(back->seed, std::optional<std::uint64_t>(42));
    EXPECT_FALSE(check::read_grading("{}").has_value());
    EXPECT_FALSE(check::read_grading(check::grading_json({"setcalc", 1, std::nullopt}))->seed);
}

}  // namespace
