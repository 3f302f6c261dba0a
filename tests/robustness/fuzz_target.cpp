// A libFuzzer target for one program (FUZZ_PROGRAM): the fuzzer's bytes are the program's
// whole standard input. For filetool, the bytes up to the first NUL are its standard input
// and the rest is the content of the file it copies or types.
// A target fails on a crash, a sanitizer report, a session that goes on for more than a
// second after its last read (or does not end at all: libFuzzer's -timeout), or output
// beyond any sane bound for the input it was given.
#include "tests/robustness/programs.hpp"

#include <stdio.h>
#include <unistd.h>

#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <string_view>

namespace {

// Output beyond this is a fault: a session may print a lot for each byte it reads (a
// traced sort of 100 records prints half a megabyte for two typed bytes), but not this much.
std::size_t output_bound(std::size_t input) { return (input + 1) * (std::size_t{4} << 20); }

// A stream that counts what is written to it and keeps nothing.
struct Counter {
    std::size_t bytes = 0;
};

ssize_t count_write(void* cookie, const char*, size_t size) {
    static_cast<Counter*>(cookie)->bytes += size;
    return static_cast<ssize_t>(size);
}

std::FILE* counting_stream(Counter& c) {
    cookie_io_functions_t io{nullptr, count_write, nullptr, nullptr};
    return fopencookie(&c, "w", io);
}

const robustness::Program& program() {
    static const robustness::Program* p = robustness::find(FUZZ_PROGRAM);
    if (p == nullptr) std::abort();
    return *p;
}

// filetool works on two files in a folder of its own.
const std::filesystem::path& scratch() {
    static const std::filesystem::path folder = [] {
        std::string pattern = (std::filesystem::temp_directory_path() / "fuzz.XXXXXX").string();
        if (::mkdtemp(pattern.data()) == nullptr) std::abort();
        return std::filesystem::path(pattern);
    }();
    return folder;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::string_view bytes(reinterpret_cast<const char*>(data), size);
    std::string_view input = bytes;
    std::vector<std::string> args;
    if (std::string_view(FUZZ_PROGRAM) == "filetool") {
        std::size_t nul = bytes.find('\0');
        input = bytes.substr(0, nul);
        std::string_view content = nul == std::string_view::npos ? "" : bytes.substr(nul + 1);
        std::ofstream(scratch() / "src", std::ios::binary | std::ios::trunc)
            .write(content.data(), static_cast<std::streamsize>(content.size()));
        std::filesystem::remove(scratch() / "dst");
        args = {(scratch() / "src").string(), (scratch() / "dst").string()};
    }
    Counter out_count, err_count;
    std::FILE* out = counting_stream(out_count);
    std::FILE* err = counting_stream(err_count);
    auto last_read = std::chrono::steady_clock::now();
    {
        console::Console con(program().name, input, out, err);
        con.watch(
            [&](console::ReadKind, std::size_t) { last_read = std::chrono::steady_clock::now(); });
        console::drive(con, [&](console::Console& c) { return program().dialogue(c, args); });
    }
    if (std::chrono::steady_clock::now() - last_read > std::chrono::seconds(1)) std::abort();
    std::fclose(out);
    std::fclose(err);
    if (out_count.bytes > output_bound(size) || err_count.bytes > output_bound(size)) std::abort();
    return 0;
}
