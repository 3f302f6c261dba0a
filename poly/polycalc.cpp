#include "poly/polycalc.hpp"

#include <optional>

#include "poly/ring.hpp"

namespace poly {
namespace {

// Reads the term count and then that many terms (coefficient, then power) into a new ring;
// a count of 0 or less gives the empty ring.
term* read_polynomial(console::Console& con, const char* count_prompt, Pool& pool) {
    con.printf("%s", count_prompt);
    const int count = con.read_int();
    term* ring = nullptr;
    for (int i = 0; i < count;) {
        ++i;
        con.printf("Enter coefficient and Power of %d Term of Polynomial (C/P):", i);
        const int coefficient = con.read_int();
        const int power = con.read_int();
        ring = create(ring, coefficient, power, pool);
    }
    return ring;
}

// The evaluation dialogue: lists both polynomials, asks which one, and evaluates 1 or 2;
// any other number returns silently.
void evaluate(console::Console& con, const term* first, const term* second) {
    con.printf("\n1.Polynomial :");
    display(first, con);
    con.printf("\n2.Polynomial :");
    display(second, con);
    con.printf("\nEnter Which Polynomial you want to evaluate :");
    const int number = con.read_int();
    if (number != 1 && number != 2) return;
    const std::optional<int> value = eva(number == 1 ? first : second, con);
    if (value) con.printf("Evaluation Result is = %d", *value);
}

}  // namespace

int polycalc(console::Console& con) {
    Pool pool;  // owns every node of every ring below
    con.printf("\nEnter First Polynomial:");
    term* first =
        read_polynomial(con, "\n Enter Total Number of terms of First polynomial :", pool);
    con.puts("\nYour First Polynomial is :");
    display(first, con);

    con.printf("\nEnter SECOND Polynomial:");
    term* second =
        read_polynomial(con, "\n Enter Total Number of terms of Second polynomial :", pool);
    con.puts("\nYour SECOND Polynomial is :");
    display(second, con);

    int choice = 0;
    while (choice <= 3) {
        con.printf("\n1.Addition of Polynomial \n2.Multiplication of Polynomial\n"
                   "3.Evaluation of Polynomial\n4.Exit");
        con.printf("\nEnter Your Choice :");
        choice = con.read_int();
        switch (choice) {
        case 1: {
            const term* sum = add(first, second, pool);
            con.printf("\nAddition of two given Polynomial is :");
            display(sum, con);
            break;
        }
        case 2: {
            const term* product = mul(first, second, pool);
            con.printf("\nMultiplication of given polynomial is :");
            display(product, con);
            break;
        }
        case 3:
            evaluate(con, first, second);
            break;
        default:  // 0 and below show the menu again; 4 and above end the loop
            con.printf("Enter proper choice:");
            break;
        }
    }
    return 0;
}

}  // namespace poly
