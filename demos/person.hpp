// The greeter's person: a name and an age, and a self-introduction written on the standard
// output stream.
#pragma once

namespace demos {

// A person who refers to the caller's text for its name: the text is neither copied nor
// owned, so it must outlive the person (string literals always do).
class person {
public:
    // The default person: Taldrin, 19.
    person();

    // A person with the given name and age, kept exactly as given.
    person(const char* name, int age);

    // Writes "Hey I am NAME I am AGE years old" on the standard output stream, the age in
    // decimal; no line feed, no flush.
    void introduce() const;

    // From now on the person has the given name (the text is referred to, not copied) and age.
    void ChangeNameandAge(const char* name, int age);

private:
    const char* name;
    int age;
};

}  // namespace demos
