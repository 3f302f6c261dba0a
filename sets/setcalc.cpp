#include "sets/setcalc.hpp"

#include "sets/sets.hpp"

namespace sets {
namespace {

// Asks for a set's size with `prompt` until it is at most kCapacity, writing `refusal`
// before each new prompt; zero and negative sizes are accepted.
int read_size(console::Console& con, const char* prompt, const char* refusal) {
    con.printf("%s", prompt);
    int size = con.read_int();
    while (size > kCapacity) {
        con.printf("%s", refusal);
        con.printf("%s", prompt);
        size = con.read_int();
    }
    return size;
}

}  // namespace

int setcalc(console::Console& con) {
    int a[kCapacity] = {};
    int b[kCapacity] = {};
    int union_result[kPairCapacity] = {};
    int intersection[kCapacity] = {};
    int a_minus_b[kCapacity] = {};
    int b_minus_a[kCapacity] = {};
    int symmetric[kPairCapacity] = {};  // both differences together: up to 40 elements
    int a_minus_b_count = 0;
    int b_minus_a_count = 0;
    int choice = 0;

    int a_count = read_size(
        con, "\nEnter total number of elements of FIRST set A :", "size is OutOffBound Re Enter:");
    con.printf("Enter elements of set A :");
    create(a, &a_count, con);
    con.printf("Your set A is :\n ");
    display(a, &a_count, con);

    int b_count = read_size(con, "\nEnter total number of elements of Second set B:",
                            "\nSize is OutOff Bound Re Enter :");
    con.printf("\nEnter Elements of Second set B:");
    create(b, &b_count, con);
    con.puts("Your Second set B is :");
    display(b, &b_count, con);

    while (choice < 5) {
        con.printf("\n1.Union \n2.Intersection \n3.Difference \n4.symmetric Difference \n5.exit");
        con.printf("\nEnter your choice :");
        choice = con.read_int();
        switch (choice) {
        case 1: {
            int n = un(a, b, &a_count, &b_count, union_result);
            con.puts("\nUnion of Set A & B is :");
            display(union_result, &n, con);
            break;
        }
        case 2: {
            int n = inter(a, b, &a_count, &b_count, intersection);
            con.printf("Intersection of A & B is :");
            display(intersection, &n, con);
            break;
        }
        case 3:
            a_minus_b_count = diff(a, b, &a_count, &b_count, a_minus_b);
            con.printf("\nDifference of (A -B)= ");
            display(a_minus_b, &a_minus_b_count, con);
            b_minus_a_count = diff(b, a, &b_count, &a_count, b_minus_a);
            con.printf("\nDifference of (B-A)= ");
            display(b_minus_a, &b_minus_a_count, con);
            break;
        case 4: {
            a_minus_b_count = diff(a, b, &a_count, &b_count, a_minus_b);
            b_minus_a_count = diff(b, a, &b_count, &a_count, b_minus_a);
            int n = symm(a_minus_b, b_minus_a, &a_minus_b_count, &b_minus_a_count, symmetric);
            con.printf("\nSymmetric difference 0f A & B : ");
            display(symmetric, &n, con);
            break;
        }
        default:  // 0 and below show the menu again; 5 and above end the loop
            break;
        }
    }
    return 0;
}

}  // namespace sets
