// byteloop SOURCE [DESTINATION]: copies SOURCE into DESTINATION, or to standard output,
// one byte at a time with getc_unlocked/putc_unlocked on page-aligned 128 KiB stdio buffers:
// the fastest a byte-at-a-time program can be, and the yardstick of the file tool's benchmark.
#include <cstdio>

namespace {

alignas(4096) char in_buffer[128 * 1024];
alignas(4096) char out_buffer[128 * 1024];

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2) {
        std::fprintf(stderr, "usage: byteloop SOURCE [DESTINATION]\n");
        return 2;
    }
    std::FILE* in = std::fopen(argv[1], "r");
    std::FILE* out = argc > 2 ? std::fopen(argv[2], "w") : stdout;
    if (in == nullptr || out == nullptr) {
        std::perror("byteloop");
        return 1;
    }
    std::setvbuf(in, in_buffer, _IOFBF, sizeof in_buffer);
    std::setvbuf(out, out_buffer, _IOFBF, sizeof out_buffer);
    int c;
    while ((c = getc_unlocked(in)) != EOF)
        if (putc_unlocked(c, out) == EOF) break;
    bool failed = std::ferror(in) || std::ferror(out);
    std::fclose(in);
    if (std::fclose(out) != 0) failed = true;
    if (failed) std::perror("byteloop");
    return failed ? 1 : 0;
}
