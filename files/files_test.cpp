#include "files/filetool.hpp"

#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

namespace {

namespace fs = std::filesystem;

const std::string kCopied = "\n*** File Contents Copied Successfully ! ***";
const std::string kHeader = "*** Data Of The File Is ***\n";

// A fresh folder that the test works in, removed afterwards.
class Files : public ::testing::Test {
protected:
    void SetUp() override {
        std::string pattern = (fs::temp_directory_path() / "files_test.XXXXXX").string();
        ASSERT_NE(::mkdtemp(pattern.data()), nullptr);
        dir_ = pattern;
        home_ = fs::current_path();
        fs::current_path(dir_);  // relative names in the tests are names in the folder
    }
    void TearDown() override {
        fs::current_path(home_);
        fs::remove_all(dir_);
    }

    std::string at(const std::string& name) const { return (dir_ / name).string(); }

    void write(const std::string& name, const std::string& bytes) const {
        std::ofstream(dir_ / name, std::ios::binary) << bytes;
    }

    std::string read(const std::string& name) const {
        std::ifstream in(dir_ / name, std::ios::binary);
        std::ostringstream all;
        all << in.rdbuf();
        return all.str();
    }

    static console::Transcript copy(const std::string& source, const std::string& destination,
                                    int argc = 3) {
        return console::replay("filetool", "", [&](console::Console& con) {
            return files::copy(source.c_str(), destination.c_str(), argc, con);
        });
    }

    static console::Transcript type(const std::string& path) {
        return console::replay(
            "filetool", "", [&](console::Console& con) { return files::type(path.c_str(), con); });
    }

    fs::path dir_;
    fs::path home_;
};

// Contents that cross the streams' buffer boundaries and hold every byte value.
std::vector<std::string> samples() {
    std::string every_byte;
    for (int b = 0; b < 256; ++b) every_byte.push_back(static_cast<char>(b));
    std::string large;
    for (std::size_t i = 0; i < 1'000'003; ++i)
        large.push_back(static_cast<char>((i * 7 + i / 251) & 0xff));
    return {"", "\xff", std::string(1, '\0'), every_byte, "no line feed at the end", large};
}

TEST_F(Files, CopyWritesExactlyTheSourcesBytesOverAnyDestination) {
    for (const std::string& bytes : samples()) {
        write("src", bytes);
        write("dst", std::string(2'000'000, 'x'));  // longer than any source
        console::Transcript t = copy(at("src"), at("dst"));
        EXPECT_EQ(t.status, 0);
        EXPECT_EQ(t.out, kCopied);
        EXPECT_EQ(t.err, "");
        EXPECT_TRUE(read("dst") == bytes) << "a copy of " << bytes.size() << " bytes differs";
        EXPECT_TRUE(read("src") == bytes);
    }
}

TEST_F(Files, TypeWritesTheHeaderAndExactlyTheFilesBytes) {
    for (const std::string& bytes : samples()) {
        write("src", bytes);
        console::Transcript t = type(at("src"));
        EXPECT_EQ(t.status, 255);
        EXPECT_TRUE(t.out == kHeader + bytes) << "typing " << bytes.size() << " bytes differs";
        EXPECT_EQ(t.err, "");
    }
}

TEST_F(Files, CopyRefusesOneFileUnderAnyTwoNames) {
    write("a", "precious\n");
    fs::create_directory(dir_ / "sub");
    fs::create_hard_link(dir_ / "a", dir_ / "hard");
    fs::create_symlink("a", dir_ / "soft");
    fs::create_symlink("soft", dir_ / "softer");
    const std::vector<std::pair<std::string, std::string>> names = {
        {"a", "a"},    {"a", "./a"},  {"a", "sub/../a"}, {"a", "hard"},
        {"hard", "a"}, {"a", "soft"}, {"soft", "a"},     {"softer", "hard"}};
    for (const auto& [source, destination] : names) {
        console::Transcript t = copy(source, destination);
        EXPECT_EQ(t.status, files::kFailure) << source << " -> " << destination;
        EXPECT_EQ(t.out, "");
        std::string expected = "filetool: '";
        expected.append(source).append("' and '").append(destination);
        EXPECT_EQ(t.err, expected + "' are the same file\n");
        EXPECT_EQ(read("a"), "precious\n");
    }
}

TEST_F(Files, CopyWithTooFewArgumentsWritesTheUsageAndTouchesNoFile) {
    write("src", "data");
    for (int argc : {-1, 0, 1, 2}) {
        console::Transcript t = copy(at("src"), at("dst"), argc);
        EXPECT_EQ(t.status, 54);
        EXPECT_EQ(t.out, "Too Few Arguements.\nUsage : ./a.out src_file dest_file");
        EXPECT_FALSE(fs::exists(dir_ / "dst"));
    }
}

}  // namespace
