// Random sessions stay where the exercise fixes what is read: every default session is read
// by two independent readers of the exercise, written here without the generators' help,
// and both must read the same. The string programs that read lines are read once as the
// formatted scanner reads a number (scanf's %d, the line feed after it eaten before a line
// is read with fgets) and once as whole lines, a number taken from its line; rollbook's
// percentages are read as a float and as a double, each printed with six decimals. Open
// sessions (--all) may go where the readers part, and do.
#include <gtest/gtest.h>

#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "check/sessions/session.hpp"

using check::sessions::Draw;
using check::sessions::generator_for;
using check::sessions::Session;

namespace {

// How a string program reads its strings after the menu's choice.
struct Strings {
    const char* program;
    bool compare_is_line;  // entry 4's string is a line (else a word, as entry 6's)
};

// Reads `input` as the formatted scanner and fgets would: the first line, then choices with
// %d; entry 4's line (after getchar() eats what ends the choice) with fgets, or a word with
// %s. What it read, one item a line.
std::string scanner_reading(const std::string& input, const Strings& s) {
    std::size_t at = 0;
    std::string read;
    const auto line = [&] {
        const std::size_t end = input.find('\n', at);
        std::string l = input.substr(at, end == std::string::npos ? std::string::npos : end - at);
        at = end == std::string::npos ? input.size() : end + 1;
        return l;
    };
    const auto skip_blanks = [&] {
        while (at < input.size() && std::isspace(static_cast<unsigned char>(input[at])) != 0) ++at;
    };
    read += "line " + line() + "\n";
    for (;;) {
        skip_blanks();
        std::size_t end = at;
        if (end < input.size() && (input[end] == '+' || input[end] == '-')) ++end;
        while (end < input.size() && std::isdigit(static_cast<unsigned char>(input[end])) != 0)
            ++end;
        if (end == at) return read + "no number\n";
        const long long choice = std::strtoll(input.substr(at, end - at).c_str(), nullptr, 10);
        at = end;
        read += "choice " + std::to_string(choice) + "\n";
        if (choice >= 7) return read;
        if (choice == 4 && s.compare_is_line) {
            ++at;  // getchar()
            read += "line " + line() + "\n";
        } else if (choice == 4 || choice == 6) {
            skip_blanks();
            std::size_t word_end = at;
            while (word_end < input.size() &&
                   std::isspace(static_cast<unsigned char>(input[word_end])) == 0)
                ++word_end;
            read += "word " + input.substr(at, word_end - at) + "\n";
            at = word_end;
        }
    }
}

// Reads `input` as whole lines: the first line, each choice from a line of its own (strtol,
// blanks before it skipped), each string as the next line.
std::string line_reading(const std::string& input, const Strings& s) {
    std::istringstream in(input);
    std::string read, l;
    std::getline(in, l);
    read += "line " + l + "\n";
    while (std::getline(in, l)) {
        char* end = nullptr;
        const long long choice = std::strtoll(l.c_str(), &end, 10);
        if (end == l.c_str()) return read + "no number\n";
        read += "choice " + std::to_string(choice) + "\n";
        if (choice >= 7) return read;
        if (choice == 4 || choice == 6) {
            std::getline(in, l);
            read += (choice == 4 && s.compare_is_line ? "line " : "word ") + l + "\n";
        }
    }
    return read + "no number\n";
}

TEST(Readings, StringSessionsReadAlikeByTheScannerAndByLines) {
    for (const Strings& s : {Strings{"textline", true}, Strings{"textwalk", false}}) {
        SCOPED_TRACE(s.program);
        const auto* g = generator_for(s.program);
        ASSERT_NE(g, nullptr);
        std::size_t parted_open = 0;
        for (unsigned k = 0; k < 400; ++k) {
            Draw d(1000 + k);
            const Session session = g->draw(d, k % 101, false);
            std::vector<Session> all{session};
            if (k % 20 == 0) {  // what shrinking offers stays alike too
                const std::vector<Session> fewer = g->smaller(session, false);
                all.insert(all.end(), fewer.begin(), fewer.end());
            }
            for (const Session& one : all) {
                const std::string input = g->feed(one).input;
                ASSERT_EQ(scanner_reading(input, s), line_reading(input, s)) << input;
            }
            Draw o(1000 + k);
            const std::string open = g->feed(g->draw(o, k % 101, true)).input;
            parted_open += scanner_reading(open, s) != line_reading(open, s) ? 1 : 0;
        }
        EXPECT_GT(parted_open, 0U) << "the readers never part: they test nothing";
    }
}

// A percentage read as a float and as a double, each printed with six decimals, and
// whether the reader took the whole line; "" when the line is no number.
std::string as_float(const std::string& line) {
    char* end = nullptr;
    const float f = std::strtof(line.c_str(), &end);
    char text[64];
    std::snprintf(text, sizeof text, "%.6f%s", static_cast<double>(f), *end ? " and more" : "");
    return end == line.c_str() ? "" : text;
}
std::string as_double(const std::string& line) {
    std::istringstream in(line);
    double v = 0;
    if (!(in >> v)) return "";
    char text[64];
    std::snprintf(text, sizeof text, "%.6f%s", v, in.peek() != EOF ? " and more" : "");
    return text;
}

TEST(Readings, RollbookPercentagesPrintAlikeAsAFloatAndAsADouble) {
    const auto* g = generator_for("rollbook");
    ASSERT_NE(g, nullptr);
    std::size_t parted_open = 0, percentages = 0;
    for (unsigned k = 0; k < 300; ++k) {
        for (bool open : {false, true}) {
            Draw d(5000 + k);
            std::istringstream in(g->feed(g->draw(d, k % 101, open)).input);
            // The count, then each record: roll numbers until one not seen yet (the refused
            // ones repeat an earlier student's), a name, a percentage.
            std::string l;
            std::getline(in, l);
            const long long count = std::strtoll(l.c_str(), nullptr, 10);
            std::set<long long> rolls;
            bool parted = false;
            for (long long i = 0; i < count; ++i) {
                while (std::getline(in, l) &&
                       !rolls.insert(std::strtoll(l.c_str(), nullptr, 10)).second) {
                }
                std::getline(in, l);  // the name
                std::getline(in, l);
                if (!open) {
                    ++percentages;
                    ASSERT_EQ(as_float(l), as_double(l)) << "the percentage " << l;
                    ASSERT_NE(as_float(l), "") << l;
                }
                parted = parted || as_float(l) != as_double(l);
            }
            parted_open += parted ? 1 : 0;
        }
    }
    EXPECT_GT(percentages, 1000U);
    EXPECT_GT(parted_open, 0U) << "the readers never part: they test nothing";
}

}  // namespace
