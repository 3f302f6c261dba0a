// The student record book's routines: one `student` record type and the entry, printing,
// sorting and search routines over a table of them held by the caller. Every routine
// touches only the first n records (n of zero or less counts as none, and n is never taken
// beyond the table's length); the sorts reorder those records in place, moving them whole.
#pragma once

#include <span>

#include "console/console.hpp"

namespace records {

// Records a table holds, and bytes of a name field (at most 19 characters and a NUL).
inline constexpr int kCapacity = 100;
inline constexpr int kName = 20;

// One student: roll numbers are unique within a table (entry refuses a repeated one).
struct student {
    int roll_number;
    char name[kName];
    float percentage;
};

// Fills records 0 to n-1 from the console, in order: roll number, name, percentage. A roll
// number already held by an earlier record is refused with a message and asked again.
void create(std::span<student> students, int n, console::Console& con);

// Prints one record as one line, a line feed before and after it.
void display(student s, console::Console& con);

// Sorts records 0 to n-1 into ascending roll number (bubble sort), listing the table after
// every one of the n-1 passes, then the result and the operation count n(n+1)/2 - 1.
void bubble(std::span<student> students, int n, console::Console& con);

// Sorts records 0 to n-1 into descending name order, byte by byte as strcmp compares
// (selection sort), listing the table after every pass, then the result and the count.
void dis(std::span<student> students, int n, console::Console& con);

// Reads a roll number and finds it by binary search over records 0 to n-1, taken to be in
// ascending roll number; prints the record and its 1-based location, or that none was
// found, with the number of records probed.
void searchroll(std::span<student> students, int n, console::Console& con);

}  // namespace records
