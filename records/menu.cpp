#include "records/menu.hpp"

#include <array>

#include "records/rollbook.hpp"

namespace records {

int rollbook(console::Console& con) {
    std::array<student, kCapacity> students{};  // starts zeroed; only the first n are used
    int choice = 0;

    con.printf("how many Records of  students you have :");
    int n = con.read_int();
    while (n > kCapacity) {  // the table holds 100: a larger count is asked again
        con.diag("please enter a count of at most %d (got %d)", kCapacity, n);
        n = con.read_int();
    }
    create(students, n, con);

    con.printf("\n student Created");
    con.printf("Your Students Record :\n ");
    con.printf("Roll_No   NAME   Percentage ");
    for (int i = 0; i < n; ++i) display(students[static_cast<std::size_t>(i)], con);

    while (choice <= 6) {  // 5 and 6 come back to the menu; 7 and above end the loop
        con.printf("\nWhich operation you want to perform on Student DataBase ");
        con.printf("\n1. Display the data in ascending order of Roll Number (Bubble Sort) ");
        con.printf("\n2. Display data for RollNo specified by user (Binary search -  Input "
                   "should be sorted in ascending order of roll number )");
        con.printf("\n3. Display the data in descending order of name(Selection sort)");
        con.printf("\n4. Exit");
        con.printf("\n Enter Proper Choice :");
        choice = con.read_int();
        switch (choice) {
        case 1:
            bubble(students, n, con);
            break;
        case 2:
            searchroll(students, n, con);
            break;
        case 3:
            dis(students, n, con);
            break;
        case 4:
            return 0;
        default:
            con.printf("\n Please Enter Proper Choice....!!");
            break;
        }
    }
    return 0;
}

}  // namespace records
