#include "records/rollbook.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <climits>
#include <cstdio>
#include <cstring>
#include <functional>
#include <sstream>
#include <string>
#include <vector>

#include "records/menu.hpp"

namespace {

using records::student;

student make(int roll, const char* name, float percentage = 50.0f) {
    student s{};
    s.roll_number = roll;
    const std::size_t length = std::min(std::strlen(name), sizeof s.name - 1);
    std::memcpy(s.name, name, length);
    s.percentage = percentage;
    return s;
}

std::vector<student> table_of(const std::vector<int>& rolls) {
    std::vector<student> t;
    for (int r : rolls) {
        char name[records::kName];
        std::snprintf(name, sizeof name, "n%d", r);
        t.push_back(make(r, name));
    }
    return t;
}

std::vector<student> table_of(const std::vector<std::string>& names) {
    std::vector<student> t;
    t.reserve(names.size());
    int roll = 1;
    for (const std::string& n : names) t.push_back(make(roll++, n.c_str()));
    return t;
}

// Runs one routine with the given text as its console input.
console::Transcript on(const std::string& input,
                       const std::function<void(console::Console&)>& routine) {
    return console::replay("rollbook", input, [&](console::Console& con) {
        routine(con);
        return 0;
    });
}

// What a sort printed: the roll numbers of every pass listing and of the final listing,
// and the operation count.
struct Trace {
    std::vector<std::vector<int>> pass_rolls;
    std::vector<int> final_rolls;
    int counter = -1;
    int headers = 0;  // column headers seen, one per listing
};

// The number that `text` holds from `at` up to `until` (or its end), or INT_MIN + 1 when
// that stretch is not one whole number.
int number_in(const std::string& text, std::size_t at, std::size_t until = std::string::npos) {
    const std::string part = text.substr(at, until == std::string::npos ? until : until - at);
    std::size_t used = 0;
    int value = INT_MIN + 1;
    try {
        value = std::stoi(part, &used);
    } catch (const std::exception&) {
        return INT_MIN + 1;
    }
    return used == part.size() ? value : INT_MIN + 1;
}

bool starts(const std::string& s, const std::string& prefix) { return s.rfind(prefix, 0) == 0; }

bool ends(const std::string& s, const std::string& suffix) {
    return s.size() >= suffix.size() &&
           s.compare(s.size() - suffix.size(), suffix.size(), suffix) == 0;
}

// One line that display printed: " ROLL" + 10 blanks + NAME + 7 blanks + PERCENTAGE + 2 blanks.
bool parse_record(const std::string& line, int& roll, std::string& name) {
    const std::size_t gap = line.find("          ");
    if (!starts(line, " ") || gap == std::string::npos || !ends(line, "  ")) return false;
    roll = number_in(line, 1, gap);
    const std::size_t from = gap + 10;
    const std::size_t second = line.find("       ", from);
    if (roll == INT_MIN + 1 || second == std::string::npos) return false;
    name = line.substr(from, second - from);
    return true;
}

Trace parse_sort(const std::string& out, const char* technique) {
    Trace t;
    const std::string pass = std::string(" In ") + technique + " Sort Your Record After ' ";
    const std::string count = "Time Complexity Taken : O(";
    std::istringstream lines(out);
    std::string line;
    bool in_final = false;
    int roll = 0;
    std::string name;
    while (std::getline(lines, line)) {
        if (starts(line, pass) && ends(line, " ' Pass  : ")) {
            EXPECT_EQ(number_in(line, pass.size(), line.size() - 11),
                      static_cast<int>(t.pass_rolls.size()) + 1);
            t.pass_rolls.emplace_back();
        } else if (line.find("Your complete Sorted Record") != std::string::npos) {
            in_final = true;
        } else if (line == " Roll_No  NAME  Percentage  ") {
            ++t.headers;
        } else if (starts(line, count) && ends(line, ")")) {
            t.counter = number_in(line, count.size(), line.size() - 1);
        } else if (parse_record(line, roll, name)) {
            if (!in_final && t.pass_rolls.empty()) {
                ADD_FAILURE() << "a record before any listing header: " << line;
                continue;
            }
            (in_final ? t.final_rolls : t.pass_rolls.back()).push_back(roll);
        } else if (!line.empty()) {
            ADD_FAILURE() << "unexpected line: " << line;
        }
    }
    return t;
}

std::vector<int> rolls_of(const std::vector<student>& t) {
    std::vector<int> r;
    r.reserve(t.size());
    for (const student& s : t) r.push_back(s.roll_number);
    return r;
}

std::vector<std::string> names_of(const std::vector<student>& t) {
    std::vector<std::string> r;
    r.reserve(t.size());
    for (const student& s : t) r.emplace_back(s.name);
    return r;
}

TEST(Rollbook, DisplayPrintsOneRecordInItsFixedLine) {
    struct Case {
        student s;
        std::string want;
    };
    const std::vector<Case> cases = {
        {make(7, "ann", 85.5f), "\n 7          ann       85.500000  \n"},
        {make(-3, "Bob", 33.3f), "\n -3          Bob       33.299999  \n"},
        {make(0, "", 0.0f), "\n 0                 0.000000  \n"},
        {make(INT_MIN, "abcdefghijklmnopqrs", -1.25f),
         "\n -2147483648          abcdefghijklmnopqrs       -1.250000  \n"},
    };
    for (const Case& c : cases) {
        auto t = console::replay("rollbook", "", [&](console::Console& con) {
            records::display(c.s, con);
            return 0;
        });
        EXPECT_EQ(t.out, c.want);
    }
}

TEST(Rollbook, BubbleTracesEveryPassAndCountsPassesAndComparisons) {
    struct Case {
        std::vector<int> rolls;
        std::vector<std::vector<int>> passes;
        int counter;
    };
    const std::vector<Case> cases = {
        {{}, {}, 0},
        {{5}, {}, 0},
        {{2, 1}, {{1, 2}}, 2},
        {{3, 2, 1}, {{2, 1, 3}, {1, 2, 3}}, 5},
        {{5, 1, 4, 2, 3}, {{1, 4, 2, 3, 5}, {1, 2, 3, 4, 5}, {1, 2, 3, 4, 5}, {1, 2, 3, 4, 5}}, 14},
        {{1, 2, 3, 4}, {{1, 2, 3, 4}, {1, 2, 3, 4}, {1, 2, 3, 4}}, 9},  // no early stop
        {{0, -7, INT_MAX, INT_MIN},
         {{-7, 0, INT_MIN, INT_MAX}, {-7, INT_MIN, 0, INT_MAX}, {INT_MIN, -7, 0, INT_MAX}},
         9},
    };
    for (const Case& c : cases) {
        auto table = table_of(c.rolls);
        const int n = static_cast<int>(table.size());
        auto out = on("", [&](console::Console& con) { records::bubble(table, n, con); });
        Trace t = parse_sort(out.out, "Bubble");
        std::vector<int> sorted = c.passes.empty() ? c.rolls : c.passes.back();
        EXPECT_EQ(t.pass_rolls, c.passes) << "n = " << n;
        EXPECT_EQ(t.final_rolls, sorted);
        EXPECT_EQ(rolls_of(table), sorted) << "the table keeps the sorted order";
        EXPECT_EQ(t.counter, c.counter);
        EXPECT_EQ(t.headers, static_cast<int>(c.passes.size()) + 1);
    }
}

TEST(Rollbook, BubbleWritesItsListingsExactly) {
    auto table = std::vector<student>{make(2, "b", 1.5f), make(1, "a", 2.0f)};
    auto out = on("", [&](console::Console& con) { records::bubble(table, 2, con); });
    const std::string a = "\n 1          a       2.000000  \n";
    const std::string b = "\n 2          b       1.500000  \n";
    EXPECT_EQ(out.out,
              "\n In Bubble Sort Your Record After ' 1 ' Pass  : \n Roll_No  NAME  Percentage  " +
                  a + b +
                  "\n Your complete Sorted Record of Students By BUBBLE SORT Technique Is : \n "
                  "Roll_No  NAME  Percentage  " +
                  a + b + "\nTime Complexity Taken : O(2)");
}

TEST(Rollbook, BubbleLeavesEqualRollNumbersInTheirOrder) {
    auto table = std::vector<student>{make(2, "x"), make(1, "y"), make(2, "z")};
    on("", [&](console::Console& con) { records::bubble(table, 3, con); });
    EXPECT_EQ(names_of(table), (std::vector<std::string>{"y", "x", "z"}));
}

TEST(Rollbook, DisTracesEveryPassAndPicksTheFrontmostHighestName) {
    struct Case {
        std::vector<std::string> names;
        std::vector<std::vector<int>> passes;  // roll numbers, 1 for the first name entered
        int counter;
    };
    const std::vector<Case> cases = {
        {{}, {}, 0},
        {{"solo"}, {}, 0},
        {{"a", "b"}, {{2, 1}}, 2},
        {{"b", "a", "c"}, {{3, 2, 1}, {3, 1, 2}}, 5},
        // upper case sorts below lower case: e, d, c, a, B
        {{"d", "B", "e", "a", "c"},
         {{3, 2, 1, 4, 5}, {3, 1, 2, 4, 5}, {3, 1, 5, 4, 2}, {3, 1, 5, 4, 2}},
         14},
        // two highest names: the first z is picked first, the second one by the next pass
        {{"m", "z", "a", "z"}, {{2, 1, 3, 4}, {2, 4, 3, 1}, {2, 4, 1, 3}}, 9},
        {{"z", "z", "z"}, {{1, 2, 3}, {1, 2, 3}}, 5},       // all equal: nothing moves
        {{"z", "\xe9t"}, {{2, 1}}, 2},                      // bytes compare as unsigned
        {{"abc", "ab", "abd"}, {{3, 2, 1}, {3, 1, 2}}, 5},  // a prefix is lower
    };
    for (const Case& c : cases) {
        auto table = table_of(c.names);
        const int n = static_cast<int>(table.size());
        auto out = on("", [&](console::Console& con) { records::dis(table, n, con); });
        Trace t = parse_sort(out.out, "Selection");
        std::vector<int> sorted = c.passes.empty() ? rolls_of(table) : c.passes.back();
        EXPECT_EQ(t.pass_rolls, c.passes) << "n = " << n;
        EXPECT_EQ(t.final_rolls, sorted);
        EXPECT_EQ(rolls_of(table), sorted);
        EXPECT_EQ(t.counter, c.counter);
        EXPECT_EQ(t.headers, static_cast<int>(c.passes.size()) + 1);
        EXPECT_NE(out.out.find("\n Your complete Sorted Record of Students By SELECTION SORT "
                               "Technique Is : \n Roll_No  NAME  Percentage  "),
                  std::string::npos);
    }
}

TEST(Rollbook, SortsMoveRecordsWhole) {
    auto table =
        std::vector<student>{make(3, "cat", 30.5f), make(1, "ant", 10.25f), make(2, "bee", 20.75f)};
    auto check = [&] {
        for (const student& s : table) {
            float want = s.roll_number == 1 ? 10.25f : s.roll_number == 2 ? 20.75f : 30.5f;
            const char* name = s.roll_number == 1 ? "ant" : s.roll_number == 2 ? "bee" : "cat";
            EXPECT_EQ(s.percentage, want);
            EXPECT_STREQ(s.name, name);
        }
    };
    on("", [&](console::Console& con) { records::bubble(table, 3, con); });
    EXPECT_EQ(names_of(table), (std::vector<std::string>{"ant", "bee", "cat"}));
    check();
    on("", [&](console::Console& con) { records::dis(table, 3, con); });
    EXPECT_EQ(names_of(table), (std::vector<std::string>{"cat", "bee", "ant"}));
    check();
}

// The search's answer: the 1-based location found (0 when none) and the probe count.
struct Found {
    int location;
    int probes;
    bool operator==(const Found&) const = default;
};

Found search(std::vector<student>& table, int key) {
    const int n = static_cast<int>(table.size());
    auto out = on(std::to_string(key).append("\n"),
                  [&](console::Console& con) { records::searchroll(table, n, con); });
    const std::string prompt = "\nEnter Roll number to be searched for ";
    EXPECT_EQ(out.out.rfind(prompt, 0), 0u);
    const std::string rest = out.out.substr(std::min(prompt.size(), out.out.size()));
    const std::string found = "\nThe searched record was found at location  ";
    const std::string missed = "\nThe searched record was not found";
    const std::string probes = "\nTime Complexity :  ";
    const std::size_t tail = rest.rfind(probes);
    if (tail == std::string::npos) {
        ADD_FAILURE() << "no probe count: " << rest;
        return {-1, -1};
    }
    const int count = number_in(rest, tail + probes.size());
    if (rest.substr(0, tail) == missed) return {0, count};
    const std::size_t line = rest.find('\n', found.size());
    if (starts(rest, found) && line != std::string::npos && ends(rest.substr(0, tail), "  \n")) {
        int roll = 0;
        std::string name;
        EXPECT_TRUE(parse_record(rest.substr(line + 1, tail - line - 2), roll, name)) << rest;
        EXPECT_EQ(roll, key) << "the record shown holds the key";
        return {number_in(rest, found.size(), line), count};
    }
    ADD_FAILURE() << "unexpected search result: " << rest;
    return {-1, -1};
}

TEST(Rollbook, SearchrollCountsItsProbes) {
    struct Case {
        std::vector<int> rolls;
        int key;
        Found want;
    };
    const std::vector<Case> cases = {
        {{}, 5, {0, 0}},  // nothing to probe
        {{5}, 5, {1, 1}},
        {{5}, 6, {0, 1}},
        {{10, 20, 30, 40}, 20, {2, 1}},  // (n-1)/2 rounded down: the lower middle
        {{10, 20, 30, 40}, 10, {1, 2}},
        {{10, 20, 30, 40}, 40, {4, 3}},
        {{10, 20, 30, 40}, 25, {0, 2}},
        {{10, 20, 30, 40}, 5, {0, 2}},
        {{10, 20, 30, 40}, 99, {0, 3}},
        {{1, 2, 3, 4, 5, 6, 7}, 4, {4, 1}},
        {{1, 2, 3, 4, 5, 6, 7}, 8, {0, 3}},
        {{INT_MIN, 0, INT_MAX}, INT_MAX, {3, 2}},
        {{INT_MIN, 0, INT_MAX}, INT_MIN, {1, 2}},
    };
    for (const Case& c : cases) {
        auto table = table_of(c.rolls);
        EXPECT_EQ(search(table, c.key), c.want) << "key " << c.key << " in " << c.rolls.size();
    }
}

TEST(Rollbook, SearchrollFindsAnyKeyOfSevenWithinThreeProbes) {
    auto table = table_of(std::vector<int>{-30, -2, 0, 4, 17, 99, 1000});
    for (int i = 0; i < 7; ++i) {
        Found f = search(table, table[static_cast<std::size_t>(i)].roll_number);
        EXPECT_EQ(f.location, i + 1);
        EXPECT_LE(f.probes, 3);
        EXPECT_GE(f.probes, 1);
    }
}

TEST(Rollbook, SearchAfterDisUsesTheNameOrderAndMayMissAPresentRollNumber) {
    auto table = table_of(std::vector<std::string>{"a", "b", "c", "d"});  // rolls 1 to 4
    on("", [&](console::Console& con) { records::dis(table, 4, con); });
    ASSERT_EQ(rolls_of(table), (std::vector<int>{4, 3, 2, 1}));
    EXPECT_EQ(search(table, 4), (Found{0, 3})) << "roll 4 is first, but the search misses it";
    EXPECT_EQ(search(table, 3), (Found{2, 1}));
}

TEST(Rollbook, CreateRefusesARepeatedRollNumberAndAsksAgain) {
    std::vector<student> table(3);
    auto t = on("0 ann 1\n0\n0 6 bob 2.5\n-1 cy 3\n",
                [&](console::Console& con) { records::create(table, 3, con); });
    const std::string ask = "Enter roll_number of student :";
    const std::string rest = "Enter Name of student :Enter Percentage of student :";
    const std::string again = "Roll number can not be equal...please re-enter..";
    EXPECT_EQ(t.out, ask + rest + ask + again + ask + again + ask + rest + ask + rest);
    EXPECT_EQ(rolls_of(table), (std::vector<int>{0, 6, -1}));
    EXPECT_EQ(names_of(table), (std::vector<std::string>{"ann", "bob", "cy"}));
    EXPECT_EQ(table[1].percentage, 2.5f);
    EXPECT_EQ(t.err, "");
}

TEST(Rollbook, CreateReadsNothingForNoRecordsAndStaysInsideTheTable) {
    for (int n : {0, -1, INT_MIN}) {
        std::vector<student> table(2);
        auto t = on("", [&](console::Console& con) { records::create(table, n, con); });
        EXPECT_EQ(t.out, "");
        EXPECT_EQ(t.status, 0) << "no read, so no end of input";
    }
    std::vector<student> table(1);
    auto t = on("1 a 1\n2 b 2\n", [&](console::Console& con) { records::create(table, 5, con); });
    EXPECT_EQ(t.status, 0);
    EXPECT_EQ(rolls_of(table), (std::vector<int>{1}));
}

TEST(Rollbook, CreateRefusesAnOverlongNameWithoutTouchingTheNextField) {
    std::vector<student> table(1);
    const std::string longest(19, 'x');
    auto t = on(std::string("1 ").append(20, 'y').append("\n").append(longest).append(" 7.5\n"),
                [&](console::Console& con) { records::create(table, 1, con); });
    EXPECT_EQ(t.err, "rollbook: please enter a word of at most 19 bytes (got 20)\n");
    EXPECT_EQ(std::string(table[0].name), longest);
    EXPECT_EQ(table[0].percentage, 7.5f);
}

TEST(Rollbook, DialogueAsksACountAboveTheTableAgainAndFillsAllHundred) {
    std::string input = "101\n2147483647\n100\n";
    for (int i = 0; i < 100; ++i)
        input += std::to_string(100 - i).append(" s").append(std::to_string(i)).append(" 1\n");
    input += "2\n1\n4\n";
    auto t = console::replay("rollbook", input, records::rollbook);
    EXPECT_EQ(t.status, 0);
    EXPECT_EQ(t.err, "rollbook: please enter a count of at most 100 (got 101)\n"
                     "rollbook: please enter a count of at most 100 (got 2147483647)\n");
    EXPECT_NE(t.out.find("\n 1          s99       1.000000  \n"), std::string::npos);
    // 100 descending roll numbers: the lower middle holds 51, and 1 lies at the end
    EXPECT_NE(t.out.find("\nThe searched record was not found\nTime Complexity :  6"),
              std::string::npos)
        << "a search on the unsorted table follows the halving rule";
}

}  // namespace
