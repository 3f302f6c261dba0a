#include "console.hpp"

#include <poll.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <csignal>
#include <cstdarg>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <iostream>
#include <new>
#include <vector>

namespace console {
namespace {

constexpr std::size_t kChunk = std::size_t{64} * 1024;  // bytes asked of the system per read
constexpr std::size_t kQuoted = 40;                     // bytes of bad input quoted in a diagnostic
constexpr std::size_t kLongestRealNumber = 4096;        // longest text "%f" is asked to parse

// The blanks of the C locale, which separate words and numbers.
bool is_blank(int c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

bool is_digit(int c) { return c >= '0' && c <= '9'; }

// Quotes bytes of bad input for a diagnostic: printable ASCII as it is, everything else
// escaped. At most kQuoted bytes are shown; "..." follows them when the text was longer.
std::string quote(std::string_view text) {
    const bool more = text.size() > kQuoted;
    std::string q = "\"";
    for (char ch : text.substr(0, kQuoted)) {
        auto c = static_cast<unsigned char>(ch);
        if (c == '"' || c == '\\') {
            q += '\\';
            q += ch;
        } else if (c >= 0x20 && c < 0x7f) {
            q += ch;
        } else {
            char hex[8];
            std::snprintf(hex, sizeof hex, "\\x%02x", static_cast<unsigned>(c));
            q += hex;
        }
    }
    if (more) q += "...";
    return q + "\"";
}

// Writes "NAME: message" and a line feed on `err` with one write: the whole line is formatted
// first, so that no other writer's output can land inside it. A line that fits the buffer on
// the stack (every line but one naming a very long path) needs no memory from the heap, so
// "out of memory" can still be said.
void write_diagnostic(std::FILE* err, const char* name, const char* format, va_list args) {
    va_list measure;
    va_copy(measure, args);
    const auto body =
        static_cast<std::size_t>(std::max(std::vsnprintf(nullptr, 0, format, measure), 0));
    va_end(measure);
    const std::size_t head = std::strlen(name) + 2;  // "NAME: "
    const std::size_t length = head + body + 1;      // and the line feed
    char small[1024];
    std::vector<char> large;
    char* line = small;
    if (length > sizeof small) {
        large.resize(length);
        line = large.data();
    }
    std::snprintf(line, head + 1, "%s: ", name);
    std::vsnprintf(line + head, body + 1, format, args);
    line[length - 1] = '\n';  // where vsnprintf put its terminator
    std::fwrite(line, 1, length, err);
    std::fflush(err);
}

}  // namespace

Console::Console(const char* name, int in_fd, std::FILE* out, std::FILE* err)
    : name_(name), in_fd_(in_fd), out_(out), err_(err) {
    buffer_.reserve(kChunk);
    // Only a pipe or a socket can lose its reader; a terminal or a file never reports it.
    struct stat info {};
    const int fd = fileno(out);
    if (::fstat(fd, &info) == 0 && (S_ISFIFO(info.st_mode) || S_ISSOCK(info.st_mode)))
        watched_out_fd_ = fd;
}

Console::Console(const char* name, std::string_view input, std::FILE* out, std::FILE* err)
    : name_(name), in_fd_(-1), out_(out), err_(err), buffer_(input.begin(), input.end()),
      at_end_(true) {}

bool Console::fill() {
    if (at_end_) return false;
    if (pos_ > 0) {  // keep only what has not been consumed yet
        buffer_.erase(buffer_.begin(), buffer_.begin() + static_cast<std::ptrdiff_t>(pos_));
        dropped_ += pos_;
        pos_ = 0;
    }
    flush();  // the program is about to wait: everything it wrote must be visible first
    wait_for_input();
    std::size_t old = buffer_.size();
    buffer_.resize(old + kChunk);
    ssize_t got = 0;
    do {
        got = ::read(in_fd_, buffer_.data() + old, kChunk);
        // No program installs a signal handler, so EINTR never comes; kept for one that would.
    } while (got < 0 && errno == EINTR);  // GCOVR_EXCL_BR_LINE
    buffer_.resize(old + (got > 0 ? static_cast<std::size_t>(got) : 0));
    if (got > 0) return true;
    at_end_ = true;
    if (got < 0) read_errno_ = errno;
    return false;
}

void Console::wait_for_input() {
    if (watched_out_fd_ < 0) return;
    pollfd fds[2] = {{in_fd_, POLLIN, 0}, {watched_out_fd_, 0, 0}};
    // Without a timeout, poll(2) returns when input can be read (read(2) then returns at once)
    // or when the output reports the only events it reports unasked: an error or a hang-up,
    // that is, its reader has gone. It fails only for want of kernel memory (no program
    // installs a signal handler, so not with EINTR either); read(2) then decides.
    const int ready = ::poll(fds, 2, -1);
    if (ready > 0 && fds[0].revents == 0) output_closed();  // GCOVR_EXCL_BR_LINE: see above
}

void Console::output_closed() {
    // As a write(2) to that pipe would: SIGPIPE, which ends the program unless it is ignored
    // or blocked, and then the error EPIPE.
    std::raise(SIGPIPE);
    // cppcheck-suppress unreachableCode ; raise returns when SIGPIPE is ignored or blocked
    record_write_error(EPIPE);
    throw OutputClosed{};
}

int Console::peek(std::size_t ahead) {
    while (pos_ + ahead >= buffer_.size())
        if (!fill()) return -1;
    return static_cast<unsigned char>(buffer_[pos_ + ahead]);
}

int Console::get() {
    int c = peek(0);
    if (c >= 0) ++pos_;
    return c;
}

void Console::skip_blanks() {
    for (;;) {
        int c = peek(0);
        if (c < 0) throw EndOfInput{read_errno_};
        if (!is_blank(c)) return;
        ++pos_;
    }
}

std::string Console::offending_text() {
    std::string text;
    std::size_t k = 0;
    for (int c = peek(0); c >= 0 && !is_blank(c) && k <= kQuoted; c = peek(++k))
        text.push_back(static_cast<char>(c));
    return quote(text);
}

void Console::refuse_number(const char* what) {
    diag("%s (got %s)", what, offending_text().c_str());
    drop_line();
}

void Console::note_read(ReadKind kind) {
    if (watcher_) watcher_(kind, dropped_ + pos_);
}

int Console::read_int() {
    note_read(ReadKind::Int);
    for (;;) {
        skip_blanks();
        std::size_t sign = 0;
        if ((peek(0) == '+' || peek(0) == '-') && is_digit(peek(1))) sign = 1;
        if (!is_digit(peek(sign))) {
            refuse_number("please enter a whole number");
            continue;
        }
        bool negative = sign == 1 && peek(0) == '-';
        std::string seen;  // the start of the number, for a diagnostic
        const std::int64_t limit = negative ? 2147483648LL : 2147483647LL;
        std::int64_t value = 0;
        bool too_big = false;
        if (sign == 1) seen.push_back(static_cast<char>(get()));
        while (is_digit(peek(0))) {
            int c = get();
            if (seen.size() <= kQuoted) seen.push_back(static_cast<char>(c));
            if (!too_big) {
                value = value * 10 + (c - '0');
                too_big = value > limit;
            }
        }
        if (too_big) {
            diag("please enter a whole number from -2147483648 to 2147483647 (got %s)",
                 quote(seen).c_str());
            drop_line();
            continue;
        }
        return static_cast<int>(negative ? -value : value);
    }
}

float Console::read_float() {
    note_read(ReadKind::Float);
    for (;;) {
        skip_blanks();
        std::string text;
        for (std::size_t k = 0;; ++k) {
            int c = peek(k);
            if (c < 0 || is_blank(c) || text.size() > kLongestRealNumber) break;
            text.push_back(static_cast<char>(c));
        }
        if (text.size() > kLongestRealNumber) {
            diag("please enter a number of at most %zu bytes", kLongestRealNumber);
            drop_line();
            continue;
        }
        char* end = nullptr;
        errno = 0;
        float value = std::strtof(text.c_str(), &end);
        auto used = static_cast<std::size_t>(end - text.c_str());
        if (used == 0) {
            refuse_number("please enter a number");
            continue;
        }
        if (errno == ERANGE && std::isinf(value)) {  // a finite number too large for a float
            refuse_number("please enter a number from -3.40282e+38 to 3.40282e+38");
            continue;
        }
        pos_ += used;
        return value;
    }
}

void Console::read_word(char* buffer, std::size_t size) {
    note_read(ReadKind::Word);
    read_text(buffer, size, false);
}

void Console::read_line(char* buffer, std::size_t size) {
    note_read(ReadKind::Line);
    read_text(buffer, size, true);
}

void Console::read_text(char* buffer, std::size_t size, bool whole_line) {
    const char* what = whole_line ? "line" : "word";
    const std::size_t room = size - 1;
    for (;;) {
        if (!whole_line)
            skip_blanks();
        else if (peek(0) < 0)
            throw EndOfInput{read_errno_};
        std::size_t n = 0;
        bool nul = false;
        for (int c = peek(0); c >= 0 && (whole_line ? c != '\n' : !is_blank(c)); c = peek(0)) {
            ++pos_;
            if (n < room) buffer[n] = static_cast<char>(c);
            nul = nul || c == 0;
            ++n;
        }
        if (whole_line && peek(0) == '\n') ++pos_;
        if (n > room) {
            diag("please enter a %s of at most %zu bytes (got %zu)", what, room, n);
            continue;
        }
        if (nul) {
            diag("please enter a %s without NUL bytes", what);
            continue;
        }
        buffer[n] = '\0';
        return;
    }
}

char Console::read_word_initial() {
    note_read(ReadKind::WordInitial);
    skip_blanks();
    char initial = static_cast<char>(get());
    while (peek(0) >= 0 && !is_blank(peek(0))) ++pos_;
    return initial;
}

void Console::drop_line() {
    for (int c = get(); c >= 0 && c != '\n'; c = get()) {
    }
}

void Console::record_write_error(int error) {
    if (write_errno_ == 0) write_errno_ = error;
}

void Console::note_write(int result) {
    if (result >= 0) return;
    // stdio sets errno on every failed write it makes; EIO guards against one that would not.
    int error = errno != 0 ? errno : EIO;  // GCOVR_EXCL_BR_LINE
    record_write_error(error);
    if (error == EPIPE) throw OutputClosed{};
}

int Console::printf(const char* format, ...) {
    va_list args;
    va_start(args, format);
    int result = std::vfprintf(out_, format, args);
    va_end(args);
    note_write(result);
    return result;
}

int Console::puts(const char* text) {
    int result = std::fputs(text, out_);
    if (result >= 0) result = std::fputc('\n', out_);
    note_write(result);
    return result;
}

int Console::putchar(int c) {
    int result = std::fputc(c, out_);
    note_write(result);
    return result;
}

void Console::flush() { note_write(std::fflush(out_) == 0 ? 0 : -1); }

void Console::diag(const char* format, ...) {
    try {
        flush();  // what the dialogue wrote comes first, also where both streams are one log
    } catch (const OutputClosed&) {  // GCOVR_EXCL_BR_LINE: flush throws nothing else
        // The error is kept: the next wait or write ends the program, or the exit-time check
        // reports it.
    }
    va_list args;
    va_start(args, format);
    write_diagnostic(err_, name_, format, args);
    va_end(args);
}

// A member, though it uses no state: a dialogue does everything through its console.
void Console::exit(int status) {  // NOLINT(readability-convert-member-functions-to-static)
    throw Exit{status};
}

int drive(Console& con, const Dialogue& dialogue) {
    try {
        return dialogue(con);
        // gcc's branch for an exception of any other type, which no dialogue throws:
    } catch (const Exit& e) {  // GCOVR_EXCL_BR_LINE
        return e.status;
    } catch (const OutputClosed&) {
        return 1;  // the exit-time output check reports the write error
    } catch (const EndOfInput& e) {
        if (e.error != 0)
            con.diag("standard input: %s", std::strerror(e.error));
        else
            con.diag("unexpected end of input");
        return 1;
    } catch (const std::bad_alloc&) {
        con.diag("out of memory");
        return 1;
    }
}

int run(const char* name, const Dialogue& dialogue) {
    Console con(name, STDIN_FILENO, stdout, stderr);
    int status = drive(con, dialogue);
    // The output check at exit: what the dialogue wrote must have reached the system.
    errno = 0;
    std::cout.flush();  // flushes stdout underneath: keep the reason if that fails
    int error = errno;
    bool failed = std::fflush(stdout) != 0;
    if (failed) error = errno;
    if (failed || std::ferror(stdout) || std::cout.bad() || con.write_error() != 0) {
        if (con.write_error() != 0) error = con.write_error();
        if (error == 0) error = EIO;
        con.diag("write error: %s", std::strerror(error));
        return 1;
    }
    return status;
}

Transcript replay(const char* name, std::string_view input, const Dialogue& dialogue) {
    char* out_text = nullptr;
    char* err_text = nullptr;
    std::size_t out_size = 0;
    std::size_t err_size = 0;
    std::FILE* out = open_memstream(&out_text, &out_size);
    std::FILE* err = open_memstream(&err_text, &err_size);
    // open_memstream fails only for want of memory.
    if (out == nullptr || err == nullptr) throw std::bad_alloc();  // GCOVR_EXCL_BR_LINE
    int status = 0;
    {
        Console con(name, input, out, err);
        status = drive(con, dialogue);
    }
    std::fclose(out);
    std::fclose(err);
    Transcript t{std::string(out_text, out_size), std::string(err_text, err_size), status & 0xff};
    std::free(out_text);  // NOLINT(cppcoreguidelines-no-malloc): open_memstream's own memory
    std::free(err_text);  // NOLINT(cppcoreguidelines-no-malloc): likewise
    return t;
}

}  // namespace console
