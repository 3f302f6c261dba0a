#include "strings/menu.hpp"

#include "strings/strings.hpp"

namespace strings {
namespace {

// How one program of the toolkit reads and shows its strings.
struct Variant {
    bool given_is_line;    // the string typed at start is a whole line, not a word
    bool compare_is_line;  // entry 4 reads the next whole line, not a word
    void (*show)(const char*, console::Console&);  // writes a reversed or copied string
    int (*search)(const char*, const char*);       // entry 6's substring search
};

// Reads a word, or the next whole line when `line` is set, into an 80-byte buffer.
void read_string(console::Console& con, char* buffer, bool line) {
    if (line)
        con.read_line(buffer, kBuffer);
    else
        con.read_word(buffer, kBuffer);
}

// The menu loop on one given string; returns the exit status, 0.
int serve(console::Console& con, const Variant& v) {
    int choice = 0;
    char given[kBuffer] = {};
    char reversed[kBuffer] = {};
    char copied[kBuffer] = {};
    char another[kBuffer] = {};

    con.printf("Enter Any String :");
    read_string(con, given, v.given_is_line);

    while (choice <= 6) {
        con.putchar('\n');
        con.puts("\nWhat u want to do with this String.......????");
        con.puts("1.LENGTH\n2.REVERSE\n3.COPY\n4.COMPARE");
        con.puts("5.PALINDROME\n6.SUBSTRING\n7.EXIT");
        con.puts("enter your choice");
        choice = con.read_int();
        switch (choice) {
        case 1:
            con.printf("Length of given String is %d ", len(given));
            break;
        case 2:
            con.printf("your String After Reversing it : ");
            rev(given, reversed);
            v.show(reversed, con);
            break;
        case 3:
            copy(given, copied);
            con.printf("Your String %s copied on second variable which is :", given);
            v.show(copied, con);
            break;
        case 4: {
            con.printf("Enter another String to whom u want to compare  firstly given string:");
            if (v.compare_is_line) con.drop_line();  // the line that carried the choice
            read_string(con, another, v.compare_is_line);
            int result = comp(given, another);
            if (result == 0)
                con.puts("the two strings are equal");
            else if (result > 0)
                con.printf("the string '%s' is alphabetically bigger than string '%s'\n", given,
                           another);
            else
                con.printf("the string '%s' is alphabetically bigger than '%s'\n", another, given);
            break;
        }
        case 5:
            if (palin(given) == 1)
                con.printf("the string '%s' is a palindrome", given);
            else
                con.printf("the string '%s' is not a palindrome", given);
            break;
        case 6:
            con.printf(
                "Enter another String to whom u want to check Substring firstly given string:");
            con.read_word(another, kBuffer);
            if (v.search(given, another) == 0)
                con.printf("%s is a substring", another);
            else
                con.printf("%s is a not a substring", another);
            break;
        case 7:
            return 0;
        default:  // 0 and below show the menu again; 8 and above end the loop
            break;
        }
    }
    return 0;
}

}  // namespace

int textkit(console::Console& con) { return serve(con, {false, false, display, substring}); }

int textline(console::Console& con) { return serve(con, {true, true, display, substring}); }

int textwalk(console::Console& con) {
    return serve(con, {true, false, walk::display, walk::substring});
}

}  // namespace strings
