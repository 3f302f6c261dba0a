// The string routines of the string toolkit: free functions over zero-terminated byte
// strings held in the caller's 80-byte buffers (at most 79 characters). Every routine walks
// its strings with its own character loop; none allocates or keeps state.
#pragma once

#include "console/console.hpp"

namespace strings {

// Capacity of every string buffer of the toolkit, terminator included.
inline constexpr int kBuffer = 80;

// The number of bytes before the terminator.
int len(const char* s);

// Writes source's characters in reverse order into destination, then a terminator.
void rev(const char* source, char* destination);

// Writes source's characters in order into destination, then a terminator.
void copy(const char* source, char* destination);

// Writes the string with the put-string routine: its characters, then one line feed.
void display(const char* s, console::Console& con);

// 0 when the strings are equal; otherwise the difference of the first pair of characters
// that differ (first's minus second's), each taken as a signed 8-bit value. Never reads
// past either terminator: "ab" against "abc" gives -99.
int comp(const char* first, const char* second);

// 1 when the string reads the same backwards, byte for byte; 0 otherwise.
int palin(const char* s);

// 0 when `sought` occurs in `searched` (the empty string occurs in any non-empty string);
// otherwise nonzero: the comparison result of the last window tried, or 1 when `searched`
// is empty and no window could be tried.
int substring(const char* searched, const char* sought);

// textwalk's own routines.
namespace walk {

// Writes the string's characters one by one with the put-character routine, nothing after.
void display(const char* s, console::Console& con);

// textwalk's search: the exact search of strings::substring, with the same results.
inline int substring(const char* searched, const char* sought) {
    return strings::substring(searched, sought);
}

}  // namespace walk
}  // namespace strings
