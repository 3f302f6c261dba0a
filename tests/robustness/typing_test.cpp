// filetool typing to real standard outputs, as a shell sets them up: every byte arrives
// through pipes of any capacity and onto a file; a pipe whose reader has gone is a broken
// pipe; and a file is never typed onto itself, whatever name standard output gives it.
#include "check/case.hpp"
#include "tests/robustness/child.hpp"

#include <fcntl.h>
#include <signal.h>
#include <stdlib.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

namespace robustness {
namespace {

namespace fs = std::filesystem;

const std::string kMenu = "\nMENU\n1.Copy \n2.Type \n3.Exit\nPlease enter your choice : ";
const std::string kHeader = "*** Data Of The File Is ***\n";

// A fresh folder, the current one while the test runs, removed afterwards.
class Typing : public ::testing::Test {
protected:
    void SetUp() override {
        std::string pattern = (fs::temp_directory_path() / "typing_test.XXXXXX").string();
        ASSERT_NE(::mkdtemp(pattern.data()), nullptr);
        dir_ = pattern;
        home_ = fs::current_path();
        fs::current_path(dir_);
        std::ofstream("choice2") << "2\n";
    }
    void TearDown() override {
        fs::current_path(home_);
        fs::remove_all(dir_);
    }

    static void write(const std::string& name, const std::string& bytes) {
        std::ofstream(name, std::ios::binary) << bytes;
    }

    static std::string read(const std::string& name) {
        std::string text;
        check::read_file(name, text);
        return text;
    }

    fs::path dir_;
    fs::path home_;
};

// Every byte value, in a run longer than any buffer on the way and not a multiple of one.
std::string large_contents() {
    std::string bytes;
    for (std::size_t i = 0; i < 3 * 1024 * 1024 + 7; ++i)
        bytes.push_back(static_cast<char>((i * 7 + i / 251) & 0xff));
    return bytes;
}

// Reads a pipe until it closes.
std::string drain(int fd) {
    std::string got;
    char chunk[65536];
    for (ssize_t n = 0; (n = ::read(fd, chunk, sizeof chunk)) != 0;)
        if (n > 0)
            got.append(chunk, static_cast<std::size_t>(n));
        else if (errno != EINTR)
            break;
    return got;
}

TEST_F(Typing, EveryByteArrivesThroughAPipeOfAnyCapacity) {
    const std::string bytes = large_contents();
    write("src", bytes);
    // 0: the system's default capacity
    for (int capacity : {0, 4096, 64 * 1024, 1024 * 1024}) {
        int out[2];
        ASSERT_EQ(::pipe2(out, O_CLOEXEC), 0);
        if (capacity > 0 && ::fcntl(out[1], F_SETPIPE_SZ, capacity) < 0) {
            ::close(out[0]);
            ::close(out[1]);
            continue;  // beyond what this system allows
        }
        int in = ::open("choice2", O_RDONLY);
        std::string got;
        Launch l;
        l.program = "filetool";
        l.args = {"src", "unused"};
        l.in = in;
        l.out = out[1];
        l.while_running = [&](int) {
            ::close(out[1]);
            got = drain(out[0]);
        };
        Ended e = launch(l);
        ::close(out[0]);
        ::close(in);
        EXPECT_TRUE(e.finished && !e.signaled) << "capacity " << capacity;
        EXPECT_EQ(e.status, 255) << "capacity " << capacity;
        EXPECT_EQ(e.err, "") << "capacity " << capacity;
        std::string expected = kMenu;
        expected.append(kHeader).append(bytes);
        EXPECT_TRUE(got == expected)
            << "capacity " << capacity << ": " << got.size() << " bytes typed";
    }
}

TEST_F(Typing, EveryByteArrivesOntoAFile) {
    const std::string bytes = large_contents();
    write("src", bytes);
    for (int flags : {O_TRUNC, O_APPEND}) {
        write("typed", "before\n");
        int in = ::open("choice2", O_RDONLY);
        int out = ::open("typed", O_WRONLY | flags);
        Launch l;
        l.program = "filetool";
        l.args = {"src", "unused"};
        l.in = in;
        l.out = out;
        Ended e = launch(l);
        ::close(out);
        ::close(in);
        EXPECT_TRUE(e.finished && !e.signaled);
        EXPECT_EQ(e.status, 255);
        EXPECT_EQ(e.err, "");
        std::string expected = flags == O_APPEND ? "before\n" : "";
        expected.append(kMenu).append(kHeader).append(bytes);
        EXPECT_TRUE(read("typed") == expected) << read("typed").size() << " bytes in the file";
        EXPECT_FALSE(fs::exists("unused"));
    }
}

TEST_F(Typing, APipeWhoseReaderHasGoneIsABrokenPipe) {
    write("src", large_contents());
    for (bool ignore : {false, true}) {
        int out[2], in[2];
        ASSERT_EQ(::pipe2(out, O_CLOEXEC), 0);
        ASSERT_EQ(::pipe2(in, O_CLOEXEC), 0);
        // The parent's ends are closed on exec: the program must be its pipes' only user.
        Launch l;
        l.program = "filetool";
        l.args = {"src", "unused"};
        l.in = in[0];
        l.out = out[1];
        l.ignore_sigpipe = ignore;
        // The reader takes the menu and types the choice, then leaves: the file is larger
        // than the pipe holds, so the typing itself meets the closed pipe (the choice is
        // already waiting when the reader goes, so it is read before anything else).
        l.while_running = [&](int) {
            ::close(out[1]);
            ::close(in[0]);
            std::string seen;
            char chunk[256];
            while (seen.size() < kMenu.size()) {
                ssize_t n = ::read(out[0], chunk, sizeof chunk);
                if (n <= 0) break;
                seen.append(chunk, static_cast<std::size_t>(n));
            }
            EXPECT_EQ(::write(in[1], "2\n", 2), 2);
            ::close(in[1]);
            ::close(out[0]);
        };
        Ended e = launch(l);
        EXPECT_TRUE(e.finished) << (ignore ? "SIGPIPE ignored" : "");
        if (ignore) {
            EXPECT_FALSE(e.signaled);
            EXPECT_EQ(e.status, 1);
            EXPECT_EQ(e.err, "filetool: write error: Broken pipe\n");
        } else {
            EXPECT_TRUE(e.signaled && e.status == SIGPIPE) << e.status << " " << e.err;
        }
    }
}

TEST_F(Typing, AFileIsNeverTypedOntoItself) {
    const std::string precious(200'000, 'p');
    struct Way {
        std::string source;   // the name typed
        std::string output;   // the name standard output is appended to (>>)
        std::string through;  // the file both names are
    };
    const std::vector<Way> ways = {{"big", "big", "big"},
                                   {"big", "link", "big"},
                                   {"link", "big", "big"},
                                   {"./big", "sub/../link", "big"}};
    fs::create_directory("sub");
    for (const Way& w : ways) {
        fs::remove("link");
        write("big", precious);
        fs::create_hard_link("big", "link");
        int in = ::open("choice2", O_RDONLY);
        int out = ::open(w.output.c_str(), O_WRONLY | O_APPEND);
        Launch l;
        l.program = "filetool";
        l.args = {w.source, "unused"};
        l.in = in;
        l.out = out;
        l.file_limit = 1 << 20;  // a file typed onto itself would grow without end
        l.seconds = 5;
        Ended e = launch(l);
        ::close(out);
        ::close(in);
        EXPECT_TRUE(e.finished && !e.signaled) << e.status;
        EXPECT_EQ(e.status, 1) << w.source << " >> " << w.output;
        EXPECT_EQ(e.err, "filetool: " + w.source + ": input file is output file\n");
        // the dialogue before the choice reached the file; no header, no typed byte
        ASSERT_LE(fs::file_size(w.through), 1u << 20) << w.source << " >> " << w.output;
        EXPECT_TRUE(read(w.through) == precious + kMenu)
            << w.source << " >> " << w.output << ": " << read(w.through).size() << " bytes";
    }
}

}  // namespace
}  // namespace robustness
