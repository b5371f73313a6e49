// Parameterised cases that carry a `name` print as that name, in GoogleTest's failure lines and
// in the test list CTest reads, instead of the raw bytes of the case.
#pragma once

#include <ostream>
#include <string_view>

namespace kelvaro::testing {

template <class Case>
concept NamedCase = requires(const Case& c) {
    std::string_view(c.name);
};

// GoogleTest finds it by argument-dependent lookup: say `using testing::PrintTo;` in the
// namespace of the case type.
template <NamedCase Case>
void PrintTo(const Case& c, std::ostream* out) {
    *out << std::string_view(c.name);
}

}  // namespace kelvaro::testing
