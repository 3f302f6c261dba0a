#include "demos/person.hpp"

#include <iostream>

namespace demos {

person::person() : name("Taldrin"), age(19) {}

person::person(const char* name, int age) : name(name), age(age) {}

void person::introduce() const {
    std::cout << "Hey I am " << name << " I am " << age << " years old";
}

void person::ChangeNameandAge(const char* name, int age) {
    this->name = name;
    this->age = age;
}

}  // namespace demos
