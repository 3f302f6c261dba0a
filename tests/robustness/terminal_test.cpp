// Programs on a real terminal: a session typed key by key on a pseudo-terminal. Each prompt
// must be on the screen before the program waits, each result must appear once Enter is
// pressed, and Ctrl-D at a prompt ends the program with status 1.
#include "tests/robustness/child.hpp"

#include <poll.h>
#include <pty.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <ostream>
#include <string>
#include <thread>
#include <vector>

namespace robustness {
namespace {

// What the terminal has shown so far, with the terminal's carriage returns taken out.
class Screen {
public:
    explicit Screen(int master) : master_(master) {}

    // Reads until `text` appears after the part already seen, or `seconds` pass.
    bool wait_for(const std::string& text, double seconds = 3) {
        auto deadline = std::chrono::steady_clock::now() +
                        std::chrono::milliseconds(static_cast<long>(seconds * 1000));
        for (;;) {
            std::size_t at = shown_.find(text, seen_);
            if (at != std::string::npos) {
                seen_ = at + text.size();
                return true;
            }
            if (!read_some(deadline)) return false;
        }
    }

    // True when nothing more arrives within `seconds`.
    bool quiet_for(double seconds) {
        std::size_t before = shown_.size();
        auto deadline = std::chrono::steady_clock::now() +
                        std::chrono::milliseconds(static_cast<long>(seconds * 1000));
        while (read_some(deadline)) {
        }
        return shown_.size() == before;
    }

    void type(const std::string& keys) const {
        for (char k : keys) {  // one key at a time, as a person types
            ASSERT_EQ(::write(master_, &k, 1), 1);
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
        }
    }

    const std::string& shown() const { return shown_; }

private:
    bool read_some(std::chrono::steady_clock::time_point deadline) {
        auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0) return false;
        pollfd p{master_, POLLIN, 0};
        if (::poll(&p, 1, static_cast<int>(left.count())) <= 0) return false;
        char chunk[4096];
        ssize_t n = ::read(master_, chunk, sizeof chunk);
        if (n <= 0) return false;
        for (ssize_t i = 0; i < n; ++i)
            if (chunk[i] != '\r') shown_.push_back(chunk[i]);
        return true;
    }

    int master_;
    std::string shown_;
    std::size_t seen_ = 0;
};

struct Step {
    std::string shows;  // what must be on the screen before the keys are typed
    std::string keys;   // what is typed then ("\x04" is Ctrl-D)
};

struct Session {
    std::string program;
    std::vector<std::string> args;
    std::vector<Step> steps;
    std::string finally_shows;  // the last thing on the screen
    int status;
};

void PrintTo(const Session& s, std::ostream* os) { *os << s.program; }

class Terminal : public ::testing::TestWithParam<Session> {};

TEST_P(Terminal, PromptsShowBeforeEachAnswerAndCtrlDEnds) {
    const Session& s = GetParam();
    Argv argv(s.program, s.args);

    int master = -1;
    pid_t pid = ::forkpty(&master, nullptr, nullptr, nullptr);
    ASSERT_GE(pid, 0);
    if (pid == 0) {
        ::execv(argv.path(), argv.get());
        ::_exit(127);
    }
    Screen screen(master);
    for (const Step& step : s.steps) {
        ASSERT_TRUE(screen.wait_for(step.shows)) << "never showed: " << step.shows << "\nscreen:\n"
                                                 << screen.shown();
        if (step.keys.empty()) continue;
        // The program now waits: nothing more may come until the answer is typed.
        EXPECT_TRUE(screen.quiet_for(0.05)) << "more output before the answer to: " << step.shows;
        screen.type(step.keys);
    }
    EXPECT_TRUE(screen.wait_for(s.finally_shows))
        << "never showed: " << s.finally_shows << "\nscreen:\n"
        << screen.shown();
    int wait_status = 0;
    ::waitpid(pid, &wait_status, 0);
    ::close(master);
    ASSERT_TRUE(WIFEXITED(wait_status));
    EXPECT_EQ(WEXITSTATUS(wait_status), s.status);
}

const std::string kTextMenuEnd = "7.EXIT\nenter your choice\n";

INSTANTIATE_TEST_SUITE_P(
    Collection, Terminal,
    ::testing::Values(Session{"textkit",
                              {},
                              {{"Enter Any String :", "hello\n"},
                               {kTextMenuEnd, "2\n"},
                               {"your String After Reversing it : olleh\n", ""},
                               {kTextMenuEnd, "\x04"}},
                              "textkit: unexpected end of input\n",
                              1},
                      Session{"textline",
                              {},
                              {{"Enter Any String :", "a man a plan\n"},
                               {kTextMenuEnd, "1\n"},
                               {"Length of given String is 12 ", ""},
                               {kTextMenuEnd, "7\n"}},
                              "7\n",
                              0},
                      Session{
                          "polycalc",
                          {},
                          {{" Enter Total Number of terms of First polynomial :", "1\n"},
                           {"Enter coefficient and Power of 1 Term of Polynomial (C/P):", "3 2\n"},
                           {" Enter Total Number of terms of Second polynomial :", "1\n"},
                           {"(C/P):", "2 1\n"},
                           {"Enter Your Choice :", "1\n"},
                           {"Addition of two given Polynomial is :3X^2 + 2X^1 ", ""},
                           {"Enter Your Choice :", "\x04"}},
                          "polycalc: unexpected end of input\n",
                          1},
                      Session{"rollbook",
                              {},
                              {{"how many Records of  students you have :", "1\n"},
                               {"Enter roll_number of student :", "7\n"},
                               {"Enter Name of student :", "ann\n"},
                               {"Enter Percentage of student :", "85.5\n"},
                               {"\n 7          ann       85.500000  \n", ""},
                               {" Enter Proper Choice :", "4\n"}},
                              "4\n",
                              0},
                      Session{"setcalc",
                              {},
                              {{"Enter total number of elements of FIRST set A :", "2\n"},
                               {"Enter elements of set A :", "1 2\n"},
                               {"Enter total number of elements of Second set B:", "1\n"},
                               {"Enter Elements of Second set B:", "2\n"},
                               {"Enter your choice :", "1\n"},
                               {"Union of Set A & B is :\n{1,2}", ""},
                               {"Enter your choice :", "5\n"}},
                              "5\n",
                              0},
                      Session{"gridcalc",
                              {},
                              {{"Enter Number of rows And Columns of your Matrix  :", "1 1\n"},
                               {"Enter Elements your FRIST Matrix Row vice :", "2\n"},
                               {"Enter Elements of your SECOND Matrix Row vice :", "3\n"},
                               {" Enter your choice: ", "2\n"},
                               {"Multiplication of matrix of A and B Matrix =\n6\t\n", ""},
                               {" Enter your choice: ", "\x04"}},
                              "gridcalc: unexpected end of input\n",
                              1},
                      Session{"gridheap",
                              {},
                              {{"Enter the number your choice ", "5\n"},
                               {"Wrong input !!!!!!!! Please Try Again  :  ", ""},
                               {"Do you want to perform more operations (y/n)", "n\n"}},
                              "n\n",
                              0},
                      Session{"filetool",
                              {"/dev/null", "unused"},
                              {{"Please enter your choice : ", "2\n"}},
                              "*** Data Of The File Is ***\n",
                              255}),
    [](const ::testing::TestParamInfo<Session>& info) { return info.param.program; });

}  // namespace
}  // namespace robustness
