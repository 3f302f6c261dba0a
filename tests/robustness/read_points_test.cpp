// Every read point of every valid transcript, disturbed three ways:
//  - the input cut just before the read: standard output is exactly what came before the
//    read, the status is 1 and the diagnostic says the input ended;
//  - a non-number typed before a numeric read: the same output and status as the case,
//    and a diagnostic;
//  - an overlong word (line) typed before a word (line) read: likewise.
#include "tests/robustness/cases.hpp"
#include "tests/robustness/programs.hpp"

#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

namespace robustness {
namespace {

struct ReadPoint {
    console::ReadKind kind;
    std::size_t offset;      // where the read starts in the input
    std::size_t out_before;  // bytes of standard output written before it
};

// Replays a case in its own working folder.
console::Transcript replay_case(const Program& p, const Case& c, const std::string& input,
                                std::vector<ReadPoint>* points = nullptr) {
    WorkFolder folder(c);
    return console::replay(p.name, input, [&](console::Console& con) {
        if (points != nullptr)
            con.watch([&con, points](console::ReadKind kind, std::size_t offset) {
                std::fflush(con.out());
                long written = std::ftell(con.out());
                points->push_back({kind, offset, static_cast<std::size_t>(written)});
            });
        return p.dialogue(con, c.args);
    });
}

bool numeric(console::ReadKind k) {
    return k == console::ReadKind::Int || k == console::ReadKind::Float;
}

class ReadPoints : public ::testing::TestWithParam<std::string> {};

TEST_P(ReadPoints, EveryReadSurvivesEndOfInputAndBadInput) {
    const Program* p = find(GetParam());
    ASSERT_NE(p, nullptr);
    const std::string end_message = std::string(p->name) + ": unexpected end of input\n";
    int checked = 0;
    for (const Case& c : load_cases(p->name)) {
        if (!c.valid) continue;
        std::vector<ReadPoint> points;
        console::Transcript original = replay_case(*p, c, c.input, &points);
        ASSERT_EQ(original.out, c.output) << c.name << ": the in-process run differs";
        ASSERT_EQ(original.status, c.status) << c.name;
        ASSERT_EQ(original.err, "") << c.name;

        for (const ReadPoint& r : points) {
            const std::string where = c.name + " at input offset " + std::to_string(r.offset);
            const std::string head = c.input.substr(0, r.offset);
            const std::string tail = c.input.substr(r.offset);

            console::Transcript cut = replay_case(*p, c, head);
            EXPECT_EQ(cut.out, c.output.substr(0, r.out_before)) << where << " (cut)";
            EXPECT_EQ(cut.status, 1) << where << " (cut)";
            EXPECT_EQ(cut.err, end_message) << where << " (cut)";

            std::string noise;
            if (numeric(r.kind))
                noise = " z9\n";
            else if (r.kind == console::ReadKind::Word)
                noise = " " + std::string(200, 'W') + " ";
            else if (r.kind == console::ReadKind::Line)
                noise = std::string(200, 'L') + "\n";
            if (!noise.empty()) {
                console::Transcript noisy =
                    replay_case(*p, c, std::string(head).append(noise).append(tail));
                EXPECT_EQ(noisy.out, c.output) << where << " (bad input)";
                EXPECT_EQ(noisy.status, c.status) << where << " (bad input)";
                EXPECT_NE(noisy.err.find(std::string(p->name) + ": please enter"),
                          std::string::npos)
                    << where << " (bad input): " << noisy.err;
            }
            ++checked;
        }
    }
    RecordProperty("read_points", checked);
    std::printf("%s: %d read points checked\n", p->name, checked);
}

std::vector<std::string> reading_programs() {
    std::vector<std::string> names;
    for (const Program& p : programs())
        if (p.reads_input) names.emplace_back(p.name);
    return names;
}

INSTANTIATE_TEST_SUITE_P(Collection, ReadPoints, ::testing::ValuesIn(reading_programs()),
                         [](const ::testing::TestParamInfo<std::string>& info) {
                             return info.param;
                         });

}  // namespace
}  // namespace robustness
