#include "matrix/menu.hpp"

#include "matrix/fixed.hpp"
#include "matrix/grid.hpp"
#include "matrix/heap.hpp"

namespace matrix {
namespace {

// A shape as its rows and columns.
struct Shape {
    int rows = 0;
    int columns = 0;

    // True when the shape fits a grid; shapes of 0 or less fit (they hold nothing).
    bool fits() const { return rows <= kSide && columns <= kSide; }
};

// Reads a pair of whole numbers: rows, then columns.
Shape read_shape(console::Console& con) {
    Shape s;
    s.rows = con.read_int();
    s.columns = con.read_int();
    return s;
}

// gridheap's shape dialogue of additions, subtractions and multiplications: the first
// operand's shape, then the second's.
void read_two_shapes(console::Console& con, Shape& first, Shape& second) {
    con.printf("\nEnter the two matrices  :  ");
    con.printf("\nEnter number of rows and columns of first matrix respectively  ");
    first = read_shape(con);
    con.printf("\nEnter number of rows and columns of second matrix respectively  ");
    second = read_shape(con);
}

// gridheap's operand entry: both operands read into their grids and echoed.
void enter_operands(console::Console& con, Grid& a, Shape first, Grid& b, Shape second) {
    con.printf("\nEnter first matrix  ");
    heap::input(a, first.rows, first.columns, con);
    con.putchar('\n');
    heap::echo(a, first.rows, first.columns, con);
    con.printf("\nEnter second matrix ");
    heap::input(b, second.rows, second.columns, con);
    con.putchar('\n');
    heap::echo(b, second.rows, second.columns, con);
}

// True when gridheap's operation `choice` (1 to 3) can be carried out on operands of these
// shapes: both fit a grid (so a product fits the 10 by 10 block), and for an addition or a
// subtraction the shapes are equal, for a multiplication the first's columns are the
// second's rows.
bool suitable(int choice, Shape first, Shape second) {
    if (!first.fits() || !second.fits()) return false;
    if (choice == 3) return first.columns == second.rows;
    return first.rows == second.rows && first.columns == second.columns;
}

// gridheap's pass for choices 1 to 3: shapes, then the refusal or the operands and the
// result. A product goes into the pass's result block.
void combine(console::Console& con, int choice, Grid& a, Grid& b, heap::RowMatrix block,
             heap::Store& store) {
    static const char* const refusal[] = {
        nullptr,
        "\nAddition of these two matrices not possible ",
        "\nSubtraction of these two matrices not possible ",
        "\nMultiplication of these two matrices not possible ",
    };
    Shape first, second;
    read_two_shapes(con, first, second);
    if (!suitable(choice, first, second)) {
        con.printf("%s", refusal[choice]);
        return;
    }
    enter_operands(con, a, first, b, second);
    const int r1 = first.rows, c1 = first.columns, r2 = second.rows, c2 = second.columns;
    if (choice == 1) {
        heap::RowMatrix sum = heap::add(a, b, r1, c1, r2, c2, store);
        con.putchar('\n');
        con.puts("\nAddition is  ");
        heap::print(sum, r1, c1, con);
    } else if (choice == 2) {
        heap::RowMatrix difference = heap::subtract(a, b, r1, c1, r2, c2, store);
        con.putchar('\n');
        con.printf("\nSubtraction is \n ");
        heap::print(difference, r1, c1, con);
    } else {
        heap::multiply(a, b, block, r1, c1, r2, c2);
        con.puts("\n Multiplication is ");
        heap::print(block, r1, c2, con);
    }
}

// gridheap's pass for choice 4: one shape, never unsuitable unless it exceeds the grid.
void transposition(console::Console& con, Grid& a, heap::Store& store) {
    con.printf("\nEnter the two matrices  :  ");
    con.printf("\nEnter number of rows and columns of first matrix respectively  ");
    const Shape s = read_shape(con);
    if (!s.fits()) {
        con.printf("\nTranspose of this matrix not possible ");
        return;
    }
    con.printf("\nEnter matrix  ");
    heap::input(a, s.rows, s.columns, con);
    con.printf("\n ");
    heap::echo(a, s.rows, s.columns, con);
    heap::RowMatrix transposed = heap::transpose(a, s.rows, s.columns, store);
    con.puts(" \n  Transpose is  ");
    heap::print(transposed, s.rows, s.columns, con);
}

}  // namespace

int gridcalc(console::Console& con) {
    Grid a, b, result;

    con.printf("Enter Number of rows And Columns of your Matrix  :");
    Shape s = read_shape(con);
    while (!s.fits()) {
        con.diag("please enter rows and columns of at most %d (got %d and %d)", kSide, s.rows,
                 s.columns);
        s = read_shape(con);
    }
    const int r = s.rows;
    const int c = s.columns;
    con.printf("we have %d * %d Matrix on which we perform Matrix operation...", r, c);

    con.printf("\nEnter Elements your FRIST Matrix Row vice :");
    fixed::input(a, r, c, con);
    con.puts("Your FIRST A Matrix = ");
    fixed::display(a, r, c, con);
    con.printf("Enter Elements of your SECOND Matrix Row vice :");
    fixed::input(b, r, c, con);
    con.puts("Your First SECOND B Matrix = ");
    fixed::display(b, r, c, con);

    int choice = 0;
    while (choice <= 3) {
        con.printf("1.Addition of Matrix \n 2.Multiplication of Matrix \n"
                   " 3.Transpose of Matrix \n 4.Exit");
        con.printf("\n Enter your choice: ");
        choice = con.read_int();
        switch (choice) {
        case 1:
            fixed::add(a, b, result, r, c);
            con.puts("Addition of A and B Matrix =");
            fixed::display(result, r, c, con);
            break;
        case 2:
            fixed::mul(a, b, result, r, c);
            con.puts("Multiplication of matrix of A and B Matrix =");
            fixed::display(result, r, c, con);
            break;
        case 3:
            fixed::trans(a, result, r, c);
            con.puts("Your Transpose of Matrix A :");
            fixed::display(result, r, c, con);
            fixed::trans(b, result, r, c);
            con.puts("Your Transpose of Matrix B :");
            fixed::display(result, r, c, con);
            break;
        case 4:
            return 0;
        default:  // 0 and below show the menu again; 5 and above end the loop
            break;
        }
    }
    return 0;
}

int gridheap(console::Console& con) {
    heap::Store store;  // every result block and result of the run, freed when it ends
    Grid a, b;

    for (;;) {
        heap::RowMatrix block = store.make(kSide, kSide);
        con.printf("\nWhich matrix operation do you want to perform    : ");
        con.printf("\n1.Addition ");
        con.printf("\n2.Subtraction ");
        con.printf("\n3.Multiplication (A X B)");
        con.printf("\n4.Transpose ");
        con.printf("\nEnter the number your choice ");
        const int choice = con.read_int();
        if (choice >= 1 && choice <= 3)
            combine(con, choice, a, b, block, store);
        else if (choice == 4)
            transposition(con, a, store);
        else
            con.printf("\nWrong input !!!!!!!! Please Try Again  :  ");

        con.printf("\nDo you want to perform more operations (y/n)");
        const char answer = con.read_word_initial();
        if (answer != 'y' && answer != 'Y') return 0;
    }
}

}  // namespace matrix
