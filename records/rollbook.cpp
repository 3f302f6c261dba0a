#include "records/rollbook.hpp"

#include <algorithm>
#include <cstddef>
#include <cstring>
#include <limits>
#include <utility>

namespace records {
namespace {

// The records a routine may touch: the first n, none for n of zero or less, never more
// than the table holds.
int used(std::span<student> students, int n) {
    constexpr std::size_t most = std::numeric_limits<int>::max();
    return std::clamp(n, 0, static_cast<int>(std::min(students.size(), most)));
}

// The body of every listing of the sorts: their column header, then records 0 to count-1.
void listing(std::span<const student> students, int count, console::Console& con) {
    con.printf("Roll_No  NAME  Percentage  ");
    for (int k = 0; k < count; ++k) display(students[static_cast<std::size_t>(k)], con);
}

}  // namespace

void create(std::span<student> students, int n, console::Console& con) {
    const int count = used(students, n);
    for (int i = 0; i < count; ++i) {
        student& s = students[static_cast<std::size_t>(i)];
        for (;;) {
            con.printf("Enter roll_number of student :");
            const int roll = con.read_int();
            const auto earlier = students.first(static_cast<std::size_t>(i));
            if (std::none_of(earlier.begin(), earlier.end(),
                             [roll](const student& e) { return e.roll_number == roll; })) {
                s.roll_number = roll;
                break;
            }
            con.printf("Roll number can not be equal...please re-enter..");
        }
        con.printf("Enter Name of student :");
        con.read_word(s.name, sizeof s.name);
        con.printf("Enter Percentage of student :");
        s.percentage = con.read_float();
    }
}

void display(student s, console::Console& con) {
    con.printf("\n %d          %s       %f  \n", s.roll_number, s.name,
               static_cast<double>(s.percentage));
}

void bubble(std::span<student> students, int n, console::Console& con) {
    const int count = used(students, n);
    int counter = 0;
    for (int i = 0; i < count - 1; ++i) {
        ++counter;
        for (int j = 0; j < count - i - 1; ++j) {
            ++counter;
            student& a = students[static_cast<std::size_t>(j)];
            student& b = students[static_cast<std::size_t>(j) + 1];
            if (a.roll_number > b.roll_number) std::swap(a, b);
        }
        con.printf("\n In Bubble Sort Your Record After ' %d ' Pass  : \n ", i + 1);
        listing(students, count, con);
    }
    con.printf("\n Your complete Sorted Record of Students By BUBBLE SORT Technique Is : \n ");
    listing(students, count, con);
    con.printf("\nTime Complexity Taken : O(%d)", counter);
}

void dis(std::span<student> students, int n, console::Console& con) {
    const int count = used(students, n);
    int counter = 0;
    for (int i = 0; i < count - 1; ++i) {
        ++counter;
        int pick = i;
        for (int j = i + 1; j < count; ++j) {
            ++counter;
            if (std::strcmp(students[static_cast<std::size_t>(j)].name,
                            students[static_cast<std::size_t>(pick)].name) > 0)
                pick = j;
        }
        if (pick != i)
            std::swap(students[static_cast<std::size_t>(i)],
                      students[static_cast<std::size_t>(pick)]);
        con.printf("\n In Selection Sort Your Record After ' %d ' Pass  : \n ", i + 1);
        listing(students, count, con);
    }
    con.printf("\n Your complete Sorted Record of Students By SELECTION SORT Technique Is : \n ");
    listing(students, count, con);
    con.printf("\nTime Complexity Taken : O(%d)", counter);
}

void searchroll(std::span<student> students, int n, console::Console& con) {
    const int count = used(students, n);
    con.printf("\nEnter Roll number to be searched for ");
    const int key = con.read_int();
    int low = 0;
    int high = count - 1;
    int probes = 0;
    while (low <= high) {
        const int mid = (low + high) / 2;
        ++probes;
        const student& s = students[static_cast<std::size_t>(mid)];
        if (s.roll_number == key) {
            con.printf("\nThe searched record was found at location  %d", mid + 1);
            display(s, con);
            con.printf("\nTime Complexity :  %d", probes);
            return;
        }
        if (key < s.roll_number)
            high = mid - 1;
        else
            low = mid + 1;
    }
    con.printf("\nThe searched record was not found");
    con.printf("\nTime Complexity :  %d", probes);
}

}  // namespace records
