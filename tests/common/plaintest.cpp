// The harness of plaintest.h: the list of test functions, the data tables, the reports and
// main().
#include "plaintest.h"

#include <algorithm>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <vector>

namespace plaintest {

namespace {

struct Test {
    std::string name;
    Function run = nullptr;
    Function data = nullptr;
};

struct Column {
    std::string name;
    std::type_index type;
};

struct TableRow {
    std::string name;
    std::vector<std::any> values;
};

struct State {
    std::vector<Column> columns;
    std::vector<TableRow> rows;
    const TableRow* row = nullptr; // the row running, null for a function without data
    std::string running;           // "name" or "name(row)"
    bool rowFailed = false;
    bool rowSkipped = false;
    int passed = 0;
    int failed = 0;
    int skipped = 0;
    std::string firstSkip;
};

std::vector<Test>& tests() {
    static std::vector<Test> list;
    return list;
}

State& state() {
    static State current;
    return current;
}

// A mistake in the test itself (a column that does not exist, a value of the wrong type):
// nothing after it can be trusted.
[[noreturn]] void fatal(const std::string& what) {
    std::printf("FAIL!  : %s %s\n", state().running.c_str(), what.c_str());
    std::fflush(stdout);
    std::exit(127);
}

void runRow(const Test& test, const TableRow* row) {
    State& s = state();
    s.row = row;
    s.running = row ? test.name + "(" + row->name + ")" : test.name;
    s.rowFailed = false;
    s.rowSkipped = false;
    try {
        test.run();
    } catch (const std::exception& e) {
        fail(std::string("an exception left the test: ") + e.what(), __FILE__, __LINE__);
    } catch (...) {
        fail("an exception of an unknown type left the test", __FILE__, __LINE__);
    }
    if (s.rowFailed) {
        ++s.failed;
    } else if (s.rowSkipped) {
        ++s.skipped;
    } else {
        ++s.passed;
        std::printf("PASS   : %s\n", s.running.c_str());
    }
    std::fflush(stdout);
}

// Runs one test function, for each of its rows (or the one named).
void runTest(const Test& test, const std::string& onlyRow) {
    State& s = state();
    if (!test.data) {
        runRow(test, nullptr);
        return;
    }
    s.columns.clear();
    s.rows.clear();
    s.running = test.name + "_data";
    test.data();
    int ran = 0;
    for (const TableRow& row : s.rows)
        if (onlyRow.empty() || row.name == onlyRow) {
            runRow(test, &row);
            ++ran;
        }
    if (ran == 0) {
        s.running = test.name;
        fail(onlyRow.empty() ? "its data table has no rows" : "it has no row " + onlyRow, __FILE__,
             __LINE__);
        ++s.failed;
    }
}

} // namespace

Registration::Registration(const char* name, Function function, bool isData) {
    auto& list = tests();
    auto test =
        std::find_if(list.begin(), list.end(), [&](const Test& t) { return t.name == name; });
    if (test == list.end())
        test = list.insert(list.end(), Test{name});
    (isData ? test->data : test->run) = function;
}

void addColumn(const char* name, std::type_index type) {
    state().columns.push_back({name, type});
}

Row newRow(std::string name) {
    State& s = state();
    s.rows.push_back({std::move(name), {}});
    return Row(s.rows.size() - 1);
}

Row addRow(const char* format, ...) {
    char name[512];
    va_list arguments;
    va_start(arguments, format);
    std::vsnprintf(name, sizeof name, format, arguments);
    va_end(arguments);
    return newRow(name);
}

void Row::append(std::type_index type, std::any value) {
    State& s = state();
    TableRow& row = s.rows[index_];
    const std::size_t column = row.values.size();
    if (column >= s.columns.size())
        fatal("row " + row.name + " has more values than there are columns");
    if (s.columns[column].type != type)
        fatal("row " + row.name + " gives column " + s.columns[column].name +
              " a value of another type");
    row.values.push_back(std::move(value));
}

const std::any& cell(const char* column, std::type_index type) {
    const State& s = state();
    for (std::size_t k = 0; k < s.columns.size(); ++k) {
        if (s.columns[k].name != column)
            continue;
        if (s.columns[k].type != type)
            fatal(std::string("column ") + column + " is fetched as another type");
        if (!s.row || k >= s.row->values.size())
            fatal(std::string("the row has no value in column ") + column);
        return s.row->values[k];
    }
    fatal(std::string("there is no column ") + column);
}

std::string quoted(std::string_view bytes) {
    std::string text = "\"";
    for (const char c : bytes) {
        const auto byte = static_cast<unsigned char>(c);
        if (c == '"' || c == '\\') {
            text += '\\';
            text += c;
        } else if (byte >= 0x20 && byte < 0x7F) {
            text += c;
        } else {
            char escaped[8];
            std::snprintf(escaped, sizeof escaped, "\\x%02X", byte);
            text += escaped;
        }
    }
    return text + '"';
}

std::string quoted(std::u16string_view units) {
    std::string text = "u\"";
    for (const char16_t unit : units) {
        if (unit == u'"' || unit == u'\\') {
            text += '\\';
            text += char(unit);
        } else if (unit >= 0x20 && unit < 0x7F) {
            text += char(unit);
        } else {
            char escaped[8];
            std::snprintf(escaped, sizeof escaped, "\\u%04X", unsigned(unit));
            text += escaped;
        }
    }
    return text + '"';
}

bool fail(const std::string& what, const char* file, int line) {
    State& s = state();
    s.rowFailed = true;
    std::printf("FAIL!  : %s %s\n   Loc: [%s(%d)]\n", s.running.c_str(), what.c_str(), file, line);
    return false;
}

bool compared(const std::string& actual, const std::string& expected, const char* actualText,
              const char* expectedText, const char* file, int line) {
    const std::size_t width =
        std::max(std::string_view(actualText).size(), std::string_view(expectedText).size());
    std::string what = "Compared values are not the same\n   Actual   (" + std::string(actualText) +
                       ")" + std::string(width - std::string_view(actualText).size(), ' ') + ": " +
                       actual + "\n   Expected (" + expectedText + ")" +
                       std::string(width - std::string_view(expectedText).size(), ' ') + ": " +
                       expected;
    return fail(what, file, line);
}

void skip(const std::string& why, const char* file, int line) {
    State& s = state();
    s.rowSkipped = true;
    if (s.firstSkip.empty())
        s.firstSkip = why;
    std::printf("SKIP   : %s %s\n   Loc: [%s(%d)]\n", s.running.c_str(), why.c_str(), file, line);
}

} // namespace plaintest

// tst_x [function[:row]]
int main(int argc, char** argv) {
    using namespace plaintest;
    std::string only = argc > 1 ? argv[1] : "";
    std::string onlyRow;
    if (const std::size_t colon = only.find(':'); colon != std::string::npos) {
        onlyRow = only.substr(colon + 1);
        only.resize(colon);
    }
    bool found = false;
    for (const Test& test : tests()) {
        if (!only.empty() && test.name != only)
            continue;
        found = true;
        if (!test.run) {
            std::printf("FAIL!  : %s has a data function but no test function\n",
                        test.name.c_str());
            ++state().failed;
            continue;
        }
        runTest(test, onlyRow);
    }
    if (!found) {
        std::printf("No test function %s; there are:\n", only.c_str());
        for (const Test& test : tests())
            std::printf("  %s\n", test.name.c_str());
        return 1;
    }
    const State& s = state();
    std::printf("Totals: %d passed, %d failed, %d skipped\n", s.passed, s.failed, s.skipped);
    if (s.passed == 0 && s.failed == 0 && s.skipped > 0)
        std::printf("SKIPPED: %s\n", s.firstSkip.c_str());
    return std::min(s.failed, 127);
}
