// The console layer every program of the collection links.
//
// A program's dialogue is a function taking a Console: it writes its prompts and results
// through the console's formatted printer, put-string and put-character routines, and
// reads numbers, words and lines through the console's readers. `run` wires a dialogue to
// the process's real streams; `replay` drives it in-process from a string, for tests and
// fuzzers.
//
// The readers behave like the C scanner's "%d", "%f" and "%s" for valid input and soundly
// for the rest:
//  - leading blanks and line feeds are skipped; what follows the item stays for the next read;
//  - a number that is missing or out of range: a diagnostic, the rest of that input line is
//    dropped, and the same read is tried again (nothing is written on standard output);
//  - a word or line longer than its buffer, or holding a NUL byte: a diagnostic, the whole
//    word (or line) is dropped, and the same read is tried again; nothing is cut short;
//  - end of input where a read is needed: EndOfInput is thrown, which `drive` turns into the
//    diagnostic "NAME: unexpected end of input" and status 1 (a read error, likewise, into
//    "NAME: standard input: REASON").
// Standard output is flushed whenever the console is about to block for more input, so a
// prompt is always visible before the program waits, but not after every write; and before
// every diagnostic, so that where both streams go to one place each diagnostic follows the
// dialogue it answers. While it waits, the console also watches standard output when that is
// a pipe or a socket: if its reader goes away, the program ends as a write to it would end it.
#pragma once

#include <cstddef>
#include <cstdio>
#include <functional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace console {

// Thrown by a read that finds no more input (or an input stream that cannot be read).
struct EndOfInput {
    int error = 0;  // errno of a failed read; 0 at a plain end of input
};

// Thrown by Console::exit: ends the dialogue at once with the given status, as exit() does.
struct Exit {
    int status;
};

// Thrown when nobody reads the dialogue any more (standard output is a pipe whose reader has
// gone, found by a write or while waiting for input): the program ends at once, with its
// write error reported.
struct OutputClosed {};

// The kinds of read a dialogue makes, as a watcher sees them.
enum class ReadKind { Int, Float, Word, WordInitial, Line };

class Console {
public:
    // A console on real streams: reads the file descriptor `in_fd`, writes the dialogue to
    // `out` and diagnostics to `err`.
    Console(const char* name, int in_fd, std::FILE* out, std::FILE* err);

    // A console whose whole input is the given text (tests and fuzzers).
    Console(const char* name, std::string_view input, std::FILE* out, std::FILE* err);

    ~Console() = default;
    Console(const Console&) = delete;
    Console& operator=(const Console&) = delete;

    // --- reading -------------------------------------------------------------------------

    // Reads a whole number as "%d" does: optional sign and decimal digits, 32-bit range.
    int read_int();

    // Reads a real number as "%f" does: whatever strtof takes.
    float read_float();

    // Reads one word as "%s" does into `buffer` of `size` (at least 1) bytes: at most
    // size - 1 bytes and a terminator.
    void read_word(char* buffer, std::size_t size);

    // Reads one word of any length and returns its first byte; the rest of the word is
    // consumed and not kept.
    char read_word_initial();

    // Reads the next input line into `buffer` of `size` (at least 1) bytes, without its line feed
    // and with a terminator; blanks are kept and an empty line is a valid line. A last line that
    // ends without a line feed counts as a line.
    void read_line(char* buffer, std::size_t size);

    // Drops what is left of the current input line, its line feed included. At the end of
    // input it drops nothing and does not throw.
    void drop_line();

    // --- writing -------------------------------------------------------------------------

    // The formatted printer: writes exactly what the format gives, no line feed added.
    int printf(const char* format, ...) __attribute__((format(printf, 2, 3)));

    // The put-string routine: writes the text, then one line feed.
    int puts(const char* text);

    // The put-character routine: writes one byte.
    int putchar(int c);

    // The stream the dialogue is written to, for routines that write many bytes at once.
    std::FILE* out() const { return out_; }

    // Writes any pending dialogue to its stream.
    void flush();

    // --- diagnostics and ending ----------------------------------------------------------

    // Writes one line "NAME: message" on the diagnostic stream, with one write, after
    // flushing the dialogue written so far.
    void diag(const char* format, ...) __attribute__((format(printf, 2, 3)));

    // Ends the dialogue at once with `status`, as exit() ends a program.
    [[noreturn]] void exit(int status);

    // errno of the first write to the dialogue stream that failed; 0 when none failed.
    // A write that fails because the reader has gone (EPIPE) throws OutputClosed, and so
    // does a wait for input during which the reader goes (as EPIPE).
    int write_error() const { return write_errno_; }

    // Takes the result of a write made straight to out() (negative: it failed, with errno
    // set) and books a failure as the console's own writes do: its errno becomes the write
    // error if none came first, and EPIPE throws OutputClosed.
    void note_write(int result);

    // Calls `watcher` at the start of every read with its kind and the input offset where it
    // starts (bytes consumed so far). Test drivers use it to find a dialogue's read points.
    using Watcher = std::function<void(ReadKind kind, std::size_t offset)>;
    void watch(Watcher watcher) { watcher_ = std::move(watcher); }

private:
    int peek(std::size_t ahead);  // byte at pos_ + ahead, or -1 past the end of input
    int get();                    // consumes one byte, or -1 at the end of input
    bool fill();                  // reads more input; false at its end
    // Returns once input can be read; ends the program (output_closed) when the watched
    // standard output loses its reader first.
    void wait_for_input();
    [[noreturn]] void output_closed();  // raises SIGPIPE, then throws OutputClosed (EPIPE)
    // The loop shared by read_word (`whole_line` false) and read_line.
    void read_text(char* buffer, std::size_t size, bool whole_line);
    void skip_blanks();  // skips blanks and line feeds; throws EndOfInput at the end
    // The non-blank run at the read position, quoted for a diagnostic.
    std::string offending_text();
    void refuse_number(const char* what);
    void record_write_error(int error);  // keeps the first write error
    void note_read(ReadKind kind);

    const char* name_;
    int in_fd_;  // -1 for text input
    std::FILE* out_;
    std::FILE* err_;
    int watched_out_fd_ = -1;  // standard output when it is a pipe or a socket, else -1
    std::vector<char> buffer_;
    std::size_t pos_ = 0;
    std::size_t dropped_ = 0;  // bytes consumed and released from the front of buffer_
    bool at_end_ = false;
    int read_errno_ = 0;
    int write_errno_ = 0;
    Watcher watcher_;
};

using Dialogue = std::function<int(Console&)>;

// Runs a dialogue on a console and returns its status: the dialogue's own, the status of
// Console::exit, or 1: after the diagnostic "unexpected end of input", "standard input:
// REASON" (a read error) or "out of memory", and without one when the dialogue's output
// was closed (OutputClosed; the caller reports the write error).
int drive(Console& con, const Dialogue& dialogue);

// Runs a dialogue on the process's standard streams with `drive` and returns the exit
// status: drive's, or 1 when standard output could not be written, checked at the end
// ("NAME: write error: REASON"). A closed output pipe raises SIGPIPE first, which ends the
// program unless it is ignored or blocked.
int run(const char* name, const Dialogue& dialogue);

// What a dialogue wrote, and the status it ended with, when driven from a text.
struct Transcript {
    std::string out;
    std::string err;
    int status = 0;  // as the host reports it: the low 8 bits
};

// Drives a dialogue in-process with `input` as its whole standard input.
Transcript replay(const char* name, std::string_view input, const Dialogue& dialogue);

}  // namespace console
