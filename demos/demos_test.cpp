#include "demos/demos.hpp"
#include "demos/person.hpp"

#include <gtest/gtest.h>

#include <climits>
#include <iostream>
#include <sstream>
#include <string>
#include <vector>

namespace {

// Counts the flushes asked of it, and keeps what is written.
class CountingBuffer : public std::stringbuf {
public:
    int syncs = 0;

protected:
    int sync() override {
        ++syncs;
        return std::stringbuf::sync();
    }
};

// While alive, everything written on the standard output stream lands in `text`.
class CapturedCout {
public:
    CapturedCout() : old_(std::cout.rdbuf(&text)) {}
    ~CapturedCout() { std::cout.rdbuf(old_); }
    CapturedCout(const CapturedCout&) = delete;
    CapturedCout& operator=(const CapturedCout&) = delete;

    CountingBuffer text;

private:
    std::streambuf* old_;
};

std::string introduction(const demos::person& p) {
    CapturedCout cout;
    p.introduce();
    return cout.text.str();
}

TEST(Person, IntroducesItselfWithItsNameAndItsAgeInDecimal) {
    struct Case {
        const char* name;
        int age;
        std::string want;
    };
    const std::vector<Case> cases = {
        {"Morvelin", 20, "Hey I am Morvelin I am 20 years old"},
        {"", 0, "Hey I am  I am 0 years old"},
        {"Ann Lee", -5, "Hey I am Ann Lee I am -5 years old"},
        {"Max", INT_MAX, "Hey I am Max I am 2147483647 years old"},
        {"Min", INT_MIN, "Hey I am Min I am -2147483648 years old"},
    };
    for (const Case& c : cases) EXPECT_EQ(introduction(demos::person(c.name, c.age)), c.want);
    EXPECT_EQ(introduction(demos::person()), "Hey I am Taldrin I am 19 years old");
}

TEST(Person, RefersToTheCallersTextWithoutCopyingIt) {
    char name[] = "Ann";
    demos::person p(name, 3);
    name[0] = 'E';
    EXPECT_EQ(introduction(p), "Hey I am Enn I am 3 years old");
}

TEST(Person, ChangeNameandAgeSetsBothAndOnlyThem) {
    demos::person p;
    p.ChangeNameandAge("Vel", 42);
    EXPECT_EQ(introduction(p), "Hey I am Vel I am 42 years old");
    demos::person q("Morvelin", 20);
    q.ChangeNameandAge("", -1);
    EXPECT_EQ(introduction(q), "Hey I am  I am -1 years old");
    q.ChangeNameandAge("Morvelin", 20);
    EXPECT_EQ(introduction(q), introduction(demos::person("Morvelin", 20)));
}

TEST(Person, IntroduceNeitherEndsTheLineNorFlushes) {
    CapturedCout cout;
    demos::person().introduce();
    demos::person("Morvelin", 20).introduce();
    EXPECT_EQ(cout.text.str(),
              "Hey I am Taldrin I am 19 years oldHey I am Morvelin I am 20 years old");
    EXPECT_EQ(cout.text.syncs, 0);
}

TEST(Demos, GreeterWritesEverythingOnTheStandardOutputStreamWithNoFinalLineFeed) {
    CapturedCout cout;
    console::Transcript t = console::replay("greeter", "", demos::greeter);
    EXPECT_EQ(cout.text.str(),
              "Hey I am Morvelin I am 20 years old\np\nHey I am Taldrin I am 19 years old");
    EXPECT_EQ(t.out, "") << "nothing goes through the formatted printer";
    EXPECT_EQ(t.err, "");
    EXPECT_EQ(t.status, 0);
}

TEST(Demos, PairsumAndCharechoReturnTheCountTheirPrinterWrote) {
    struct Case {
        const char* name;
        console::Dialogue dialogue;
        std::string out;
        int status;
    };
    const std::vector<Case> cases = {
        {"pairsum", demos::pairsum, "30", 2},
        {"charecho", demos::charecho, "", 0},
    };
    for (const Case& c : cases) {
        console::Transcript t = console::replay(c.name, "ignored input\n", c.dialogue);
        EXPECT_EQ(t.out, c.out) << c.name;
        EXPECT_EQ(t.err, "") << c.name;
        EXPECT_EQ(t.status, c.status) << c.name;
    }
    EXPECT_EQ(demos::n.first, 10);
    EXPECT_EQ(demos::n.second, 20);
}

}  // namespace
