// The file tool: copies one file to another, or types a file to standard output, one byte
// at a time through large-buffered streams, and never reports a failure as success.
#pragma once

#include "console/console.hpp"

namespace files {

// Status of every failure that has no figure of its own: a file that cannot be read,
// written or closed, a source and destination that are one file, a choice off the menu.
inline constexpr int kFailure = 1;

// Copies the file at `source` into the file at `destination`, which is created or emptied
// first, byte for byte, and writes "\n*** File Contents Copied Successfully ! ***" once the
// destination is closed cleanly; returns 0 then. With `argc` below 3 it writes the usage
// message and returns its length, 54, touching no file. A source that cannot be opened
// writes "Error Opening File"; one that cannot be read, a destination that names the
// same file (any name, compared by device and inode) or that cannot be opened, written or
// closed gives a diagnostic; each returns kFailure. The destination is opened only once
// the source is known to be another file and to be readable.
int copy(const char* source, const char* destination, int argc, console::Console& con);

// Writes the line "*** Data Of The File Is ***", then the bytes of the file at `path`,
// exactly, and returns the end-of-file value -1. A file that cannot be opened writes
// "Error Opening File !" and returns its length, 20. A file that is the one the dialogue's
// stream writes to (a regular file of the same device and inode) is refused before anything
// is written: the diagnostic "NAME: PATH: input file is output file" and kFailure. A read
// error gives a diagnostic and returns kFailure, as does a write error on standard output,
// which is recorded for the console's check at exit (a reader that has gone ends the
// dialogue at once, with OutputClosed).
int type(const char* path, console::Console& con);

// The dialogue: checks the arguments (the program name, a source and a destination path),
// shows the menu once, reads one choice, and returns the status of what the choice did:
// copy's or type's result, 0 for the exit entry, kFailure for a choice off the menu.
int filetool(console::Console& con, int argc, char** argv);

}  // namespace files
