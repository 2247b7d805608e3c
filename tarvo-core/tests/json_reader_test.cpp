// Reading the document: accepted forms and defaults, every failure with its position, number
// conversion, and deeply nested skipped values.
#include <gtest/gtest.h>

#include <cfloat>
#include <cmath>
#include <functional>
#include <string>

#include "tarvo_core/config.hpp"

namespace tarvo_core::config {
namespace {

// The written document distinguishes every finite double, so equal documents mean equal records.
void expect_reads_as(const std::string& text, const std::function<void(Config&)>& change) {
    Config expected;
    change(expected);
    const auto read = from_json(text);
    ASSERT_TRUE(read.ok()) << text << ": " << read.error().description;
    EXPECT_EQ(to_json(read.value()), to_json(expected)) << text;
}

void expect_error(const std::string& text, const std::string& description, std::size_t line,
                  std::size_t column) {
    const auto read = from_json(text);
    ASSERT_FALSE(read.ok()) << text;
    EXPECT_EQ(read.error().description, description) << text;
    EXPECT_EQ(read.error().line, line) << text;
    EXPECT_EQ(read.error().column, column) << text;
}

TEST(JsonReader, AcceptedFormsAndDefaults) {
    struct Case {
        const char* text;
        std::function<void(Config&)> change;
    } const cases[] = {
        {"{}", [](Config&) {}},
        {"[]", [](Config&) {}},
        {" \t\r\n{ }\n", [](Config&) {}},
        {R"({"solver": {"n": 10}})", [](Config& c) { c.solver.n = 10; }},
        {R"({"spacecraft": [1000, 500]})",
         [](Config& c) { c.spacecraft.wet_mass = 1000.0; c.spacecraft.fuel = 500.0; }},
        {R"({"comment": [1, {"a": null}], "solver": {}})", [](Config&) {}},
        {R"({"x": 1, "x": "two", "solver": {"x": {}, "x": [true, false]}})", [](Config&) {}},
        {R"({"solver": {"time_of_flight": null}})", [](Config&) {}},
        {R"({"solver": {"time_of_flight": 12, "tof_max": -1.5E+3}})",
         [](Config& c) { c.solver.time_of_flight = 12.0; c.solver.tof_max = -1500.0; }},
        {R"({"solver": {"n": 18446744073709551615}})", [](Config& c) { c.solver.n = UINT64_MAX; }},
        {R"({"environment": {"max_angle_deg": 45, "gravity": [0, -0.0, -1.62]}, "solver": [7]})",
         [](Config& c) {
             c.environment.max_angle_deg = 45.0;
             c.environment.gravity = {0.0, -0.0, -1.62};
             c.solver.n = 7;
         }},
        {R"({"spacecraft": {"wet\u005fmass": 1, "fu\u0065l": 2}})",
         [](Config& c) { c.spacecraft.wet_mass = 1.0; c.spacecraft.fuel = 2.0; }},
        {R"([[1, 2, 3, 4, 5, 6, [7, 8, 9], [10, 11, 12], [13, 14, 15], [16, 17, 18], 19],
             [[20, 21, 22], 23, 24], [25, 26, null, 27]])",
         [](Config& c) {
             c.spacecraft = {1, 2, 3, 4, 5, 6, {7, 8, 9}, {10, 11, 12}, {13, 14, 15}, {16, 17, 18}, 19};
             c.environment = {{20, 21, 22}, 23, 24};
             c.solver.n = 25;
             c.solver.time_of_flight = 26.0;
             c.solver.tof_max = 27.0;
         }},
        // Conversion: correct rounding, integers beyond 64 bits, underflow to signed zero.
        {R"({"spacecraft": [0.1, 18446744073709551617, 1.7976931348623157e308, 1e-400, -1e-400,
             123456789012345678901234567890, [2.4703282292062328e-324, 9007199254740993, -0]]})",
         [](Config& c) {
             c.spacecraft.wet_mass = 0.1;
             c.spacecraft.fuel = 18446744073709551616.0;
             c.spacecraft.real_max_thrust = DBL_MAX;
             c.spacecraft.min_thrust_pct = 0.0;
             c.spacecraft.max_thrust_pct = -0.0;
             c.spacecraft.max_velocity = 1.2345678901234568e29;
             c.spacecraft.initial_position = {5e-324, 9007199254740992.0, -0.0};
         }},
        {R"({"solver": {}, "k\"\\\/\b\f\n\r\t\ud83d\ude00": "\u00e9"})", [](Config&) {}},
    };
    for (const Case& c : cases) expect_reads_as(c.text, c.change);
}

TEST(JsonReader, ReadsTheWrittenDocumentBack) {
    expect_reads_as(to_json(Config{}), [](Config&) {});
    Config c;
    c.solver.time_of_flight = std::nan("");
    c.solver.tof_min = -INFINITY;
    expect_reads_as(to_json(c), [](Config&) {});  // non-finite optionals come back unset
}

TEST(JsonReader, RejectsNaNWrittenAsNull) {
    Config c;
    c.spacecraft.wet_mass = std::nan("");
    expect_error(to_json(c), "invalid type: null, expected f64", 3, 20);
}

TEST(JsonReader, ReportsEveryFailureWithItsPosition) {
    struct Case {
        const char* text;
        const char* description;
        std::size_t line, column;
    } const cases[] = {
        {"", "EOF while parsing a value", 1, 0},
        {"   \n  ", "EOF while parsing a value", 2, 2},
        {"{} x", "trailing characters", 1, 4},
        {"5", "invalid type: integer `5`, expected struct Config", 1, 1},
        {" -2.5 ", "invalid type: floating point `-2.5`, expected struct Config", 1, 5},
        {"true", "invalid type: boolean `true`, expected struct Config", 1, 4},
        {"null", "invalid type: null, expected struct Config", 1, 4},
        {R"("a\nb\"")", R"(invalid type: string "a\nb\"", expected struct Config)", 1, 8},
        {R"({"spacecraft": 7})", "invalid type: integer `7`, expected struct Spacecraft", 1, 16},
        {R"({"environment": false})", "invalid type: boolean `false`, expected struct Environment", 1, 21},
        {R"({"solver": "s"})", "invalid type: string \"s\", expected struct Solver", 1, 14},
        {R"({"environment": {"gravity": {}}})", "invalid type: map, expected an array of length 3", 1, 28},
        {R"({"solver": [[1]]})", "invalid type: sequence, expected usize", 1, 12},
        {R"({"solver": {"n": 100.0}})", "invalid type: floating point `100.0`, expected usize", 1, 22},
        {R"({"solver": {"n": -0}})", "invalid type: floating point `-0.0`, expected usize", 1, 19},
        {R"({"solver": {"n": 18446744073709551616}})",
         "invalid type: floating point `1.8446744073709552e+19`, expected usize", 1, 37},
        {R"({"solver": {"n": -1}})", "invalid value: integer `-1`, expected usize", 1, 19},
        {R"({"solver": {"n": -9223372036854775808}})",
         "invalid value: integer `-9223372036854775808`, expected usize", 1, 37},
        {R"({"solver": {"n": null}})", "invalid type: null, expected usize", 1, 21},
        {R"({"spacecraft": {"wet_mass": null}})", "invalid type: null, expected f64", 1, 32},
        {R"({"solver": {"tof_min": "1"}})", "invalid type: string \"1\", expected f64", 1, 26},
        {R"({"environment": {"gravity": [0, 0]}})", "invalid length 2, expected an array of length 3", 1, 34},
        {R"({"environment": {"gravity": [0, 0, -3.71, 1]}})", "trailing characters", 1, 43},
        {R"({"environment": {"gravity": 1}})", "invalid type: integer `1`, expected an array of length 3", 1, 29},
        {R"({"solver": {}, "solver": {}})", "duplicate field `solver`", 1, 23},
        {R"({"solver": {"n": 1, "n": 2}})", "duplicate field `n`", 1, 23},
        {R"({"solver": [1, null, null, null, 2]})", "trailing characters", 1, 34},
        {"{\n  \"solver\": {\n    \"n\": true\n  }\n}", "invalid type: boolean `true`, expected usize", 3, 13},
        {"{\n\"solver\": {\n", "EOF while parsing an object", 3, 0},
        {"{", "EOF while parsing an object", 1, 1},
        {"[", "EOF while parsing a list", 1, 1},
        {"{\"abc", "EOF while parsing a string", 1, 5},
        {R"({"a\u12)", "EOF while parsing a string", 1, 7},
        {"{\"solver\":", "EOF while parsing a value", 1, 10},
        {"[{},", "EOF while parsing a value", 1, 4},
        {R"({"a" 1})", "expected `:`", 1, 6},
        {R"({"a": 1 2})", "expected `,` or `}`", 1, 9},
        {"[{} {}]", "expected `,` or `]`", 1, 5},
        {R"({"a": tru})", "expected ident", 1, 10},
        {R"({"a": @})", "expected value", 1, 7},
        {"[,]", "expected value", 1, 2},
        {R"({"a": "\x"})", "invalid escape", 1, 9},
        {R"({"solver": {"n": 01}})", "invalid number", 1, 19},
        {R"({"a": 1.})", "invalid number", 1, 9},
        {R"({"a": 1e+})", "invalid number", 1, 10},
        {R"({"spacecraft": {"fuel": 1e400}})", "number out of range", 1, 29},
        {R"({"spacecraft": [-1797693134862315807e291]})", "number out of range", 1, 40},
        {R"({"\udc00": 1})", "invalid unicode code point", 1, 8},
        {"{\"a\x01\": 1}", "control character (\\u0000-\\u001F) found while parsing a string", 1, 4},
        {"{\"ok\": \"\n\"}", "control character (\\u0000-\\u001F) found while parsing a string", 2, 0},
        {R"({"key must be a string": 1, 2: 3})", "key must be a string", 1, 29},
        {R"({"\ud800\u0041": 1})", "lone leading surrogate in hex escape", 1, 14},
        {R"({"solver": {},})", "trailing comma", 1, 15},
        {R"({"environment": {"gravity": [1, 2, 3,]}})", "trailing comma", 1, 38},
        {R"({"\u12G4": 1})", "unexpected end of hex escape", 1, 7},
        // Failures inside skipped members.
        {R"({"x": [1 2]})", "expected `,` or `]`", 1, 10},
        {R"({"x": {"a" 1}})", "expected `:`", 1, 12},
        {R"({"x": {3: 1}})", "key must be a string", 1, 8},
        {R"({"x": ["\q"]})", "invalid escape", 1, 10},
        {"{\"x\": [1,\n2,\n{\"y\": [", "EOF while parsing a list", 3, 7},
    };
    for (const Case& c : cases) expect_error(c.text, c.description, c.line, c.column);
}

// A megabyte of nesting inside an unknown member must neither recurse nor be refused.
TEST(JsonReader, SkipsDeeplyNestedValuesWithoutRecursion) {
    const std::size_t depth = 1 << 20;
    const std::string open(depth, '['), close(depth, ']');
    expect_reads_as("{\"x\": " + open + close + ", \"solver\": {\"n\": 3}}",
                    [](Config& c) { c.solver.n = 3; });
    const std::string unterminated = "{\"x\": " + open;
    expect_error(unterminated, "EOF while parsing a list", 1, unterminated.size());

    std::string objects = "{\"x\": ";
    for (std::size_t i = 0; i < depth / 8; ++i) objects += "{\"a\": [";
    expect_error(objects + "1", "EOF while parsing a list", 1, objects.size() + 1);
    for (std::size_t i = 0; i < depth / 8; ++i) objects += "]}";
    expect_reads_as(objects + "}", [](Config&) {});
}

}  // namespace
}  // namespace tarvo_core::config
