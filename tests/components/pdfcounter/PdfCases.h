#pragma once
// The documents every counting route must agree on, with the answer each should give.

#include <cstdint>
#include <functional>
#include <ostream>
#include <string>
#include <vector>

namespace pdffix {

struct CountCase {
    std::string name;
    std::function<std::string()> make;
    int32_t expected;
};

inline void PrintTo(const CountCase& c, std::ostream* os) { *os << c.name; }

const std::vector<CountCase>& countCases();

}  // namespace pdffix
