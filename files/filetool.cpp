#include "files/filetool.hpp"

#include <fcntl.h>
#include <sys/stat.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>

namespace files {
namespace {

// Bytes of buffer behind every stream the tool reads or writes: one system call moves
// this much, so that byte-at-a-time copying runs at the speed of block copying.
constexpr std::size_t kStreamBuffer = std::size_t{128} * 1024;

// A stream's buffer, page-aligned: the system copies into a misaligned buffer markedly
// slower.
struct alignas(4096) Buffer {
    char bytes[kStreamBuffer];
};

// Standard output's buffer. It must outlive the dialogue: standard output is flushed
// after the dialogue has returned, by the console's check at exit.
Buffer standard_output_buffer;

// Gives standard output, before anything is written to it, a buffer that suits what it
// writes to: into a pipe, as much as the pipe holds (a larger buffer overfills the pipe at
// every write and makes the writer wait for the reader in the middle of it); anywhere
// else, the whole large buffer.
void buffer_standard_output() {
    std::size_t size = sizeof standard_output_buffer.bytes;
    struct stat out {};
    if (::fstat(fileno(stdout), &out) == 0 && S_ISFIFO(out.st_mode)) {
        int capacity = ::fcntl(fileno(stdout), F_GETPIPE_SZ);
        if (capacity > 0 && static_cast<std::size_t>(capacity) < size)
            size = static_cast<std::size_t>(capacity);
    }
    std::setvbuf(stdout, standard_output_buffer.bytes, _IOFBF, size);
}

// A stream on a named file with a large buffer of its own; closed when it goes. The buffer
// is allocated first, so that running out of memory leaves no stream open behind it.
class File {
public:
    File(const char* path, const char* mode)
        : buffer_(std::make_unique_for_overwrite<Buffer>()), stream_(std::fopen(path, mode)),
          error_(errno) {
        if (stream_ != nullptr)
            std::setvbuf(stream_, buffer_->bytes, _IOFBF, sizeof buffer_->bytes);
    }
    File(const File&) = delete;
    File& operator=(const File&) = delete;
    ~File() { close(); }

    explicit operator bool() const { return stream_ != nullptr; }
    std::FILE* get() const { return stream_; }

    // errno of the failed open.
    int error() const { return error_; }

    // Closes the stream, writing what is still buffered; 0 on success, else the errno of
    // the failure. Closing twice does nothing the second time.
    int close() {
        if (stream_ == nullptr) return 0;
        errno = 0;
        int result = std::fclose(stream_);
        stream_ = nullptr;
        return result == 0 ? 0 : (errno != 0 ? errno : EIO);
    }

private:
    std::unique_ptr<Buffer> buffer_;  // released after the stream that uses it is closed
    std::FILE* stream_;
    int error_;  // errno of the open: meaningful only when stream_ is null
};

// Reports a system error on a named file, after what the dialogue has written so far.
int failed(console::Console& con, const char* name, int error) {
    con.diag("%s: %s", name, std::strerror(error != 0 ? error : EIO));
    return kFailure;
}

// True when the two are one file: the same device and inode.
bool same_inode(const struct stat& a, const struct stat& b) {
    return a.st_dev == b.st_dev && a.st_ino == b.st_ino;
}

// True when `path` names the file the open stream reads, whatever the name (the same path,
// another spelling, a hard or symbolic link).
bool same_file(const File& open, const char* path) {
    struct stat opened {};
    struct stat named {};
    return ::fstat(fileno(open.get()), &opened) == 0 && ::stat(path, &named) == 0 &&
           same_inode(opened, named);
}

// True when the dialogue's stream writes to the very file the open stream reads: a regular
// file of the same device and inode, whatever names the two were opened by.
bool is_output(const File& open, std::FILE* out) {
    int fd = fileno(out);  // none for a stream in memory
    struct stat opened {};
    struct stat written {};
    return fd >= 0 && ::fstat(fd, &written) == 0 && S_ISREG(written.st_mode) &&
           ::fstat(fileno(open.get()), &opened) == 0 && same_inode(opened, written);
}

// Writes the usage message and returns its length, 54.
int usage(console::Console& con) {
    return con.printf("Too Few Arguements.\nUsage : ./a.out src_file dest_file");
}

}  // namespace

int copy(const char* source, const char* destination, int argc, console::Console& con) {
    if (argc < 3) return usage(con);
    File in(source, "r");
    if (!in) {
        con.printf("Error Opening File");
        return kFailure;
    }
    if (same_file(in, destination)) {
        con.diag("'%s' and '%s' are the same file", source, destination);
        return kFailure;
    }
    std::FILE* from = in.get();
    int c = getc_unlocked(from);  // a source that cannot be read leaves the destination be
    if (c == EOF && std::ferror(from)) return failed(con, source, errno);

    File out(destination, "w");
    if (!out) return failed(con, destination, out.error());
    std::FILE* to = out.get();
    for (; c != EOF; c = getc_unlocked(from))
        if (putc_unlocked(c, to) == EOF) return failed(con, destination, errno);
    if (std::ferror(from)) return failed(con, source, errno);
    in.close();
    if (int error = out.close(); error != 0) return failed(con, destination, error);
    con.printf("\n*** File Contents Copied Successfully ! ***");
    return 0;
}

int type(const char* path, console::Console& con) {
    File in(path, "r");
    if (!in) return con.printf("Error Opening File !");
    if (is_output(in, con.out())) {  // typing it would append it to itself without end
        con.diag("%s: input file is output file", path);
        return kFailure;
    }
    con.puts("*** Data Of The File Is ***");
    std::FILE* from = in.get();
    std::FILE* to = con.out();
    int c = 0;
    while ((c = getc_unlocked(from)) != EOF)
        if (putc_unlocked(c, to) == EOF) {
            con.note_write(EOF);  // the reason, for the check at exit; a gone reader ends here
            return kFailure;
        }
    if (std::ferror(from)) return failed(con, path, errno);
    return EOF;
}

int filetool(console::Console& con, int argc, char** argv) {
    if (con.out() == stdout) buffer_standard_output();
    if (argc < 3) return usage(con);
    con.printf("\nMENU");
    con.printf("\n1.Copy \n2.Type \n3.Exit");
    con.printf("\nPlease enter your choice : ");
    int choice = con.read_int();
    switch (choice) {
    case 1:
        return copy(argv[1], argv[2], argc, con);
    case 2:
        return type(argv[1], con);
    case 3:
        con.exit(0);
    default:
        con.diag("choice %d is not on the menu", choice);
        return kFailure;
    }
}

}  // namespace files
