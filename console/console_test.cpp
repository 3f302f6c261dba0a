#include "console/console.hpp"
#include "console/wrap.hpp"

#include <unistd.h>

#include <gtest/gtest.h>

#include <cctype>
#include <cerrno>
#include <climits>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <ostream>
#include <string>
#include <utility>
#include <vector>

namespace {

using console::Console;
using console::replay;

// A dialogue that reads `count` items of one kind and writes each as "[item]".
enum class Kind { Int, Float, Word, Line, Initial };

console::Transcript read_items(Kind kind, const std::string& input, int count) {
    return replay("probe", input, [&](Console& con) {
        for (int i = 0; i < count; ++i) {
            char buffer[8];
            switch (kind) {
            case Kind::Int:
                con.printf("[%d]", con.read_int());
                break;
            case Kind::Float:
                con.printf("[%f]", static_cast<double>(con.read_float()));
                break;
            case Kind::Word:
                con.read_word(buffer, sizeof buffer);
                con.printf("[%s]", buffer);
                break;
            case Kind::Line:
                con.read_line(buffer, sizeof buffer);
                con.printf("[%s]", buffer);
                break;
            case Kind::Initial:
                con.printf("[%c]", con.read_word_initial());
                break;
            }
        }
        return 0;
    });
}

struct ReadCase {
    const char* what;
    Kind kind;
    std::string input;
    int count;
    std::string out;
    std::string err;
    int status;
};

void PrintTo(const ReadCase& c, std::ostream* os) { *os << c.what; }

class ReadRules : public ::testing::TestWithParam<ReadCase> {};

TEST_P(ReadRules, BehavesLikeTheScannerForValidInputAndSoundlyForTheRest) {
    const ReadCase& c = GetParam();
    console::Transcript t = read_items(c.kind, c.input, c.count);
    EXPECT_EQ(t.out, c.out) << c.what;
    EXPECT_EQ(t.err, c.err) << c.what;
    EXPECT_EQ(t.status, c.status) << c.what;
}

const std::string kEnd = "probe: unexpected end of input\n";

INSTANTIATE_TEST_SUITE_P(
    Console, ReadRules,
    ::testing::Values(
        // %d: sign and digits, blanks and line feeds skipped, the rest stays for the next read
        ReadCase{"ints", Kind::Int, "  12\n-7 +3\n", 3, "[12][-7][3]", "", 0},
        ReadCase{"int extremes", Kind::Int, "2147483647 -2147483648", 2,
                 "[2147483647][-2147483648]", "", 0},
        ReadCase{"rest of token stays", Kind::Int, "12abc\n5\n", 2, "[12][5]",
                 "probe: please enter a whole number (got \"abc\")\n", 0},
        ReadCase{"not a number drops the line", Kind::Int, "x3 4\n5\n", 1, "[5]",
                 "probe: please enter a whole number (got \"x3\")\n", 0},
        ReadCase{"lone sign", Kind::Int, "- 4\n6", 1, "[6]",
                 "probe: please enter a whole number (got \"-\")\n", 0},
        ReadCase{"double sign", Kind::Int, "+-4\n6", 1, "[6]",
                 "probe: please enter a whole number (got \"+-4\")\n", 0},
        ReadCase{"above the range", Kind::Int, "2147483648 1\n9", 1, "[9]",
                 "probe: please enter a whole number from -2147483648 to 2147483647 "
                 "(got \"2147483648\")\n",
                 0},
        ReadCase{"below the range", Kind::Int, "-2147483649\n-1", 1, "[-1]",
                 "probe: please enter a whole number from -2147483648 to 2147483647 "
                 "(got \"-2147483649\")\n",
                 0},
        ReadCase{"huge number quoted in part", Kind::Int, std::string(100, '9') + "\n1", 1, "[1]",
                 "probe: please enter a whole number from -2147483648 to 2147483647 (got \"" +
                     std::string(40, '9') + "...\")\n",
                 0},
        ReadCase{
            "long non-number quoted in part", Kind::Int, std::string(50, 'x') + " 4\n8", 1, "[8]",
            "probe: please enter a whole number (got \"" + std::string(40, 'x') + "...\")\n", 0},
        ReadCase{"quotes and backslashes escaped", Kind::Int, "\"q\\\n7", 1, "[7]",
                 "probe: please enter a whole number (got \"\\\"q\\\\\")\n", 0},
        ReadCase{"binary bytes escaped", Kind::Int, "\xff\x01z\n2", 1, "[2]",
                 "probe: please enter a whole number (got \"\\xff\\x01z\")\n", 0},
        ReadCase{"end of input at a number", Kind::Int, "  \n ", 1, "", kEnd, 1},
        ReadCase{"end of input after garbage", Kind::Int, "oops", 1, "",
                 "probe: please enter a whole number (got \"oops\")\n" + kEnd, 1},
        // %f: what strtof takes
        ReadCase{"reals", Kind::Float, "85.5 -1e2\n7", 3, "[85.500000][-100.000000][7.000000]", "",
                 0},
        ReadCase{"real beyond the float range", Kind::Float, "1e40 2\n-1e39\ninf 1e-50", 2,
                 "[inf][0.000000]",
                 "probe: please enter a number from -3.40282e+38 to 3.40282e+38 (got \"1e40\")\n"
                 "probe: please enter a number from -3.40282e+38 to 3.40282e+38 (got \"-1e39\")\n",
                 0},
        ReadCase{"real followed by text", Kind::Float, "2.5kg\n", 1, "[2.500000]", "", 0},
        ReadCase{"not a real", Kind::Float, "abc def\n1.25", 1, "[1.250000]",
                 "probe: please enter a number (got \"abc\")\n", 0},
        ReadCase{"overlong real", Kind::Float, std::string(5000, '1') + "\n3", 1, "[3.000000]",
                 "probe: please enter a number of at most 4096 bytes\n", 0},
        // %s into an 8-byte buffer: at most 7 bytes
        ReadCase{"words", Kind::Word, " ab\tcd\nefghijk", 3, "[ab][cd][efghijk]", "", 0},
        ReadCase{"every C blank separates words", Kind::Word, "a\vb\fc\rd e", 5, "[a][b][c][d][e]",
                 "", 0},
        ReadCase{"overlong word dropped whole", Kind::Word, "abcdefgh next", 1, "[next]",
                 "probe: please enter a word of at most 7 bytes (got 8)\n", 0},
        ReadCase{"word with NUL", Kind::Word, std::string("a\0b c", 5), 1, "[c]",
                 "probe: please enter a word without NUL bytes\n", 0},
        ReadCase{"end of input at a word", Kind::Word, "\n\n", 1, "", kEnd, 1},
        // whole lines into an 8-byte buffer
        ReadCase{"lines keep blanks", Kind::Line, " a b \n\nlast", 3, "[ a b ][][last]", "", 0},
        ReadCase{"overlong line dropped whole", Kind::Line, "12345678\nok\n", 1, "[ok]",
                 "probe: please enter a line of at most 7 bytes (got 8)\n", 0},
        ReadCase{"end of input at a line", Kind::Line, "one\n", 2, "[one]", kEnd, 1},
        // a word of any length, of which only the first byte counts
        ReadCase{"initials", Kind::Initial, "yes " + std::string(200, 'Y') + " n", 3, "[y][Y][n]",
                 "", 0}),
    [](const ::testing::TestParamInfo<ReadCase>& info) {
        std::string name;
        for (const char* p = info.param.what; *p != '\0'; ++p)
            name += std::isalnum(static_cast<unsigned char>(*p)) ? *p : '_';
        return name;
    });

TEST(Console, DropLineDiscardsTheRestOfTheCurrentLineOnly) {
    console::Transcript t = replay("probe", "4 trailing words\nnext line\n", [](Console& con) {
        int choice = con.read_int();
        con.drop_line();
        char line[80];
        con.read_line(line, sizeof line);
        con.printf("%d<%s>", choice, line);
        con.drop_line();  // at the end of input: nothing to drop, no exception
        return 0;
    });
    EXPECT_EQ(t.out, "4<next line>");
    EXPECT_EQ(t.status, 0);
}

TEST(Console, WritingRoutinesAddLineFeedsOnlyWhereTheyShould) {
    console::Transcript t = replay("probe", "", [](Console& con) {
        con.printf("a%d", 1);
        con.puts("b");
        con.putchar('c');
        return 7;
    });
    EXPECT_EQ(t.out, "a1b\nc");
    EXPECT_EQ(t.err, "");
    EXPECT_EQ(t.status, 7);
}

TEST(Console, ExitEndsTheDialogueAtOnceWithItsStatus) {
    console::Transcript t = replay("probe", "", [](Console& con) -> int {
        con.printf("before");
        con.exit(0);
        con.printf("after");  // never reached
    });
    EXPECT_EQ(t.out, "before");
    EXPECT_EQ(t.status, 0);
}

TEST(Console, StatusKeepsTheLowEightBitsAsTheHostDoes) {
    EXPECT_EQ(replay("probe", "", [](Console&) { return -1; }).status, 255);
    EXPECT_EQ(replay("probe", "", [](Console&) { return 54; }).status, 54);
}

TEST(Console, OutOfMemoryIsADiagnosticAndStatusOne) {
    console::Transcript t = replay("probe", "", [](Console& con) -> int {
        con.printf("partial");
        throw std::bad_alloc();
    });
    EXPECT_EQ(t.out, "partial");
    EXPECT_EQ(t.err, "probe: out of memory\n");
    EXPECT_EQ(t.status, 1);
}

TEST(Console, ADiagnosticLongerThanAnyBufferIsWrittenWhole) {
    const std::string path(3000, 'p');  // a file name can be 4095 bytes long
    console::Transcript t = replay("probe", "", [&](Console& con) {
        con.diag("%s: cannot be opened", path.c_str());
        return 0;
    });
    EXPECT_EQ(t.err, "probe: " + path + ": cannot be opened\n");
}

// A stream that fails every write at once: /dev/full, unbuffered.
std::FILE* failing_stream() {
    std::FILE* full = std::fopen("/dev/full", "w");
    if (full != nullptr) std::setvbuf(full, nullptr, _IONBF, 0);
    return full;
}

TEST(Console, EveryWritingRoutineReportsAFailedWriteAndItsReason) {
    using Write = int (*)(Console&);
    const std::vector<std::pair<const char*, Write>> writers = {
        {"printf", [](Console& con) { return con.printf("%d", 1); }},
        {"puts", [](Console& con) { return con.puts("line"); }},
        {"putchar", [](Console& con) { return con.putchar('c'); }},
    };
    for (const auto& [what, write] : writers) {
        std::FILE* full = failing_stream();
        ASSERT_NE(full, nullptr);
        {
            Console con("probe", -1, full, stderr);
            EXPECT_LT(write(con), 0) << what;
            EXPECT_LT(write(con), 0) << what << " again";
            EXPECT_EQ(con.write_error(), ENOSPC) << what;
        }
        std::fclose(full);
    }
}

TEST(Console, AClosingDiagnosticIsWrittenAfterTheDialoguesReaderHasGone) {
    int ends[2];
    ASSERT_EQ(::pipe(ends), 0);
    ::close(ends[0]);
    std::FILE* out = ::fdopen(ends[1], "w");
    ASSERT_NE(out, nullptr);
    void (*old)(int) = std::signal(SIGPIPE, SIG_IGN);
    char* err_text = nullptr;
    std::size_t err_size = 0;
    std::FILE* err = open_memstream(&err_text, &err_size);
    int status = 0;
    int error = 0;
    {
        Console con("probe", "", out, err);
        status = console::drive(con, [](Console& c) {
            c.printf("prompt :");  // still buffered when the input ends
            return c.read_int();
        });
        error = con.write_error();
    }
    std::fclose(err);
    std::fclose(out);
    std::signal(SIGPIPE, old);
    EXPECT_EQ(std::string(err_text, err_size), "probe: unexpected end of input\n");
    EXPECT_EQ(status, 1);
    EXPECT_EQ(error, EPIPE);  // kept for the exit-time check to report
    std::free(err_text);      // NOLINT(cppcoreguidelines-no-malloc): open_memstream's own memory
}

TEST(Wrap, ArithmeticWrapsAroundModuloTwoToThe32) {
    struct Case {
        std::int32_t got, want;
    };
    const std::vector<Case> cases = {
        {console::wrap_add(INT_MAX, 1), INT_MIN},  {console::wrap_add(-5, 3), -2},
        {console::wrap_sub(INT_MIN, 1), INT_MAX},  {console::wrap_mul(65536, 65536), 0},
        {console::wrap_mul(INT_MIN, -1), INT_MIN}, {console::wrap_mul(-3, 7), -21},
    };
    for (std::size_t i = 0; i < cases.size(); ++i) EXPECT_EQ(cases[i].got, cases[i].want) << i;
}

}  // namespace

namespace {

TEST(Console, WatcherSeesEveryReadWhereItStarts) {
    std::vector<std::pair<console::ReadKind, std::size_t>> seen;
    console::replay("probe", "12 ab\nline\nyes", [&](Console& con) {
        con.watch(
            [&](console::ReadKind kind, std::size_t offset) { seen.emplace_back(kind, offset); });
        char word[8];
        char line[8];
        con.read_int();
        con.read_word(word, sizeof word);
        con.drop_line();
        con.read_line(line, sizeof line);
        con.read_word_initial();
        return 0;
    });
    using K = console::ReadKind;
    const std::vector<std::pair<K, std::size_t>> want = {
        {K::Int, 0}, {K::Word, 2}, {K::Line, 6}, {K::WordInitial, 11}};
    EXPECT_EQ(seen, want);
}

}  // namespace
