#include "sets/sets.hpp"

namespace sets {
namespace {

// True when value equals one of set[0] to set[count - 1]; false for a count of zero or less.
bool holds(const int* set, int count, int value) {
    for (int k = 0; k < count; ++k)
        if (set[k] == value) return true;
    return false;
}

// Appends those of set[0] to set[count - 1] that result[0] to result[written - 1] doesn't
// hold yet; returns the new number of elements in result.
int append_new(const int* set, int count, int* result, int written) {
    for (int k = 0; k < count; ++k)
        if (!holds(result, written, set[k])) result[written++] = set[k];
    return written;
}

}  // namespace

void create(int* set, const int* count, console::Console& con) {
    for (int k = 0; k < *count; ++k) set[k] = con.read_int();
}

void display(const int* set, const int* count, console::Console& con) {
    if (*count <= 0) {
        con.printf("{}");
        return;
    }
    con.printf("{%d", set[0]);
    for (int k = 1; k < *count; ++k) con.printf(",%d", set[k]);
    con.putchar('}');
}

int un(const int* first, const int* second, const int* first_count, const int* second_count,
       int* result) {
    int written = append_new(first, *first_count, result, 0);
    return append_new(second, *second_count, result, written);
}

int inter(const int* first, const int* second, const int* first_count, const int* second_count,
          int* result) {
    int written = 0;
    for (int k = 0; k < *first_count; ++k)
        if (holds(second, *second_count, first[k])) result[written++] = first[k];
    return written;
}

int diff(const int* first, const int* second, const int* first_count, const int* second_count,
         int* result) {
    int written = 0;
    for (int k = 0; k < *first_count; ++k) {
        int j = 0;
        while (j < *second_count && second[j] != first[k]) ++j;
        // Only a scan that ran out at the count found no match; with a negative count the
        // scan never gets there, so nothing is written.
        if (j == *second_count) result[written++] = first[k];
    }
    return written;
}

int symm(const int* first, const int* second, const int* first_count, const int* second_count,
         int* result) {
    return un(first, second, first_count, second_count, result);
}

}  // namespace sets
