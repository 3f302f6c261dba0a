#include "strings/strings.hpp"

namespace strings {
namespace {

// A character as a signed 8-bit value: bytes 128 to 255 count as -128 to -1.
int signed_char(char c) { return static_cast<signed char>(c); }

}  // namespace

int len(const char* s) {
    int n = 0;
    while (s[n] != '\0') ++n;
    return n;
}

void rev(const char* source, char* destination) {
    int n = len(source);
    for (int k = 0; k < n; ++k) destination[k] = source[n - 1 - k];
    destination[n] = '\0';
}

void copy(const char* source, char* destination) {
    int n = len(source);
    for (int k = 0; k < n; ++k) destination[k] = source[k];
    destination[n] = '\0';
}

void display(const char* s, console::Console& con) { con.puts(s); }

int comp(const char* first, const char* second) {
    int la = len(first);
    int lb = len(second);
    int n = la > lb ? la : lb;  // the shorter string's terminator lies within these n
    for (int k = 0; k < n; ++k)
        if (first[k] != second[k]) return signed_char(first[k]) - signed_char(second[k]);
    return 0;
}

int palin(const char* s) {
    char work[kBuffer];
    rev(s, work);
    for (int k = 0; s[k] != '\0'; ++k)
        if (s[k] != work[k]) return 0;
    return 1;
}

int substring(const char* searched, const char* sought) {
    int la = len(searched);
    int lb = len(sought);
    int result = 1;  // not found, when there is no start position at all
    for (int i = 0; i < la; ++i) {
        char window[kBuffer];
        int k = 0;
        while (k < lb && searched[i + k] != '\0') {
            window[k] = searched[i + k];
            ++k;
        }
        window[k] = '\0';
        result = comp(window, sought);
        if (result == 0) return 0;
    }
    return result;
}

namespace walk {

void display(const char* s, console::Console& con) {
    for (int k = 0; s[k] != '\0'; ++k) con.putchar(static_cast<unsigned char>(s[k]));
}

}  // namespace walk
}  // namespace strings
