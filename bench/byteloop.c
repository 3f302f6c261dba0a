/* byteloop OUTPUT_BUFFER SOURCE [DESTINATION]: copies SOURCE into DESTINATION, or to
 * standard output, one byte at a time with getc_unlocked/putc_unlocked, reading through a
 * page-aligned 128 KiB buffer and writing through a page-aligned one of OUTPUT_BUFFER bytes
 * (at most 1 MiB): the fastest a byte-at-a-time program can be when given the best buffer
 * for where it writes, and the yardstick of the file tool's benchmarks. */
#define _POSIX_C_SOURCE 200809L /* getc_unlocked, putc_unlocked */

#include <stdio.h>
#include <stdlib.h>

static _Alignas(4096) char in_buffer[128 * 1024];
static _Alignas(4096) char out_buffer[1024 * 1024];

int main(int argc, char** argv) {
    if (argc < 3) {
        fprintf(stderr, "usage: byteloop OUTPUT_BUFFER SOURCE [DESTINATION]\n");
        return 2;
    }
    long size = atol(argv[1]);
    if (size <= 0 || size > (long)sizeof out_buffer) {
        fprintf(stderr, "byteloop: an output buffer of 1 to %zu bytes\n", sizeof out_buffer);
        return 2;
    }
    FILE* in = fopen(argv[2], "r");
    FILE* out = argc > 3 ? fopen(argv[3], "w") : stdout;
    if (in == NULL || out == NULL) {
        perror("byteloop");
        return 1;
    }
    setvbuf(in, in_buffer, _IOFBF, sizeof in_buffer);
    setvbuf(out, out_buffer, _IOFBF, (size_t)size);
    int c;
    while ((c = getc_unlocked(in)) != EOF)
        if (putc_unlocked(c, out) == EOF) break;
    int failed = ferror(in) || ferror(out);
    fclose(in);
    if (fclose(out) != 0) failed = 1;
    if (failed) perror("byteloop");
    return failed ? 1 : 0;
}
