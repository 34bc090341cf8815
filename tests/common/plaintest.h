// A small test harness for the tests of the engine, which link no Qt (and so build for
// Windows too). It follows Qt Test's ways, so that a suite moves over line by line:
//
//   PLAIN_TEST_DATA(searches) {            // optional: the rows of searches
//       plaintest::addColumn<int>("width");
//       plaintest::newRow("narrow") << 16;
//   }
//   PLAIN_TEST(searches) {                 // a test function, run once per row
//       FETCH(int, width);
//       COMPARE(Search(width), 3);         // on failure: file, line and both values
//       VERIFY(width > 0);
//       if (!Available()) SKIP("why");     // named in the log, the row counts as skipped
//   }
//
// main() is the harness's own (plaintest.cpp): `tst_x` runs every function in the order they
// are defined, `tst_x name` or `tst_x name:row` only that one. The exit code is the number
// of failed rows (at most 127). A run in which every row was skipped ends with the line
// "SKIPPED: <why>", which CTest's SKIP_REGULAR_EXPRESSION turns into a skipped test.
#pragma once

#include <any>
#include <cstdint>
#include <optional>
#include <sstream>
#include <string>
#include <string_view>
#include <type_traits>
#include <typeindex>
#include <utility>

namespace plaintest {

using Function = void (*)();

// Made by the macros: enters a test function (or its data function) in the list.
struct Registration {
    Registration(const char* name, Function function, bool isData);
};

// The data table of the function about to run.
class Row {
public:
    explicit Row(std::size_t index) : index_(index) {}
    template <class T> Row& operator<<(T value) {
        append(typeid(T), std::any(std::move(value)));
        return *this;
    }

private:
    void append(std::type_index type, std::any value);
    std::size_t index_;
};
void addColumn(const char* name, std::type_index type);
template <class T> void addColumn(const char* name) {
    addColumn(name, typeid(T));
}
Row newRow(std::string name);
// A row named with printf's format.
Row addRow(const char* format, ...) __attribute__((format(printf, 1, 2)));

// The current row's value of a column (a wrong name or type fails the run at once).
const std::any& cell(const char* column, std::type_index type);
template <class T> T fetch(const char* column) {
    return std::any_cast<T>(cell(column, typeid(T)));
}

// Readable forms of the values a check compares.
std::string quoted(std::string_view bytes);
std::string quoted(std::u16string_view units);
template <class T> std::string toString(const T& value) {
    if constexpr (std::is_same_v<T, bool>)
        return value ? "true" : "false";
    else if constexpr (std::is_same_v<T, char>)
        return quoted(std::string_view(&value, 1));
    else if constexpr (std::is_same_v<T, char16_t>)
        return quoted(std::u16string_view(&value, 1));
    else if constexpr (std::is_convertible_v<T, std::string_view>)
        return quoted(std::string_view(value));
    else if constexpr (std::is_convertible_v<T, std::u16string_view>)
        return quoted(std::u16string_view(value));
    else if constexpr (std::is_enum_v<T>)
        return std::to_string(static_cast<std::underlying_type_t<T>>(value));
    else if constexpr (std::is_null_pointer_v<T>)
        return "nullptr";
    else if constexpr (std::is_pointer_v<T>) {
        std::ostringstream out;
        out << static_cast<const void*>(value);
        return out.str();
    } else if constexpr (requires {
                             value.has_value();
                             *value;
                         })
        return value ? toString(*value) : "(none)";
    else if constexpr (requires {
                           value.begin();
                           value.end();
                       }) {
        std::string list = "{";
        for (const auto& item : value)
            list += (list.size() > 1 ? ", " : "") + toString(item);
        return list + "}";
    } else if constexpr (requires(std::ostream & out) { out << value; }) {
        std::ostringstream out;
        out << value;
        return out.str();
    } else
        return "(a value that cannot be printed)";
}
// Integers of different types compare by value (an int with a ptrdiff_t, without a warning
// about signs); characters and everything else with ==.
template <class T>
constexpr bool isNumber =
    std::is_integral_v<T> && !std::is_same_v<T, bool> && !std::is_same_v<T, char> &&
    !std::is_same_v<T, char8_t> && !std::is_same_v<T, char16_t> && !std::is_same_v<T, char32_t> &&
    !std::is_same_v<T, wchar_t>;
template <class A, class B> bool equal(const A& a, const B& b) {
    if constexpr (isNumber<A> && isNumber<B>)
        return std::cmp_equal(a, b);
    else
        return a == b;
}

// Each records a failure (or a skip) of the current row and says so on standard output.
bool fail(const std::string& what, const char* file, int line);
bool compared(const std::string& actual, const std::string& expected, const char* actualText,
              const char* expectedText, const char* file, int line);
void skip(const std::string& why, const char* file, int line);

template <class A, class B>
bool compare(const A& actual, const B& expected, const char* actualText, const char* expectedText,
             const char* file, int line) {
    if (equal(actual, expected))
        return true;
    return compared(toString(actual), toString(expected), actualText, expectedText, file, line);
}

} // namespace plaintest

#define PLAIN_TEST(name)                                                                           \
    static void plaintest_##name();                                                                \
    static const plaintest::Registration plaintest_entry_##name(#name, &plaintest_##name, false);  \
    static void plaintest_##name()

#define PLAIN_TEST_DATA(name)                                                                      \
    static void plaintest_data_##name();                                                           \
    static const plaintest::Registration plaintest_data_entry_##name(                              \
        #name, &plaintest_data_##name, true);                                                      \
    static void plaintest_data_##name()

#define COMPARE(actual, expected)                                                                  \
    do {                                                                                           \
        if (!plaintest::compare(actual, expected, #actual, #expected, __FILE__, __LINE__))         \
            return;                                                                                \
    } while (false)

#define VERIFY(condition)                                                                          \
    do {                                                                                           \
        if (!static_cast<bool>(condition) &&                                                       \
            !plaintest::fail("'" #condition "' returned false", __FILE__, __LINE__))               \
            return;                                                                                \
    } while (false)

#define SKIP(why)                                                                                  \
    do {                                                                                           \
        plaintest::skip(why, __FILE__, __LINE__);                                                  \
        return;                                                                                    \
    } while (false)

#define FETCH(Type, name) Type name = plaintest::fetch<Type>(#name)
