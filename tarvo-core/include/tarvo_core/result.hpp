// A value or the reason there is none. Failures in the core travel as values; only broken
// invariants are exceptions (see fault.hpp).
#pragma once

#include <string>
#include <utility>
#include <variant>

namespace tarvo_core {

// Why there is no landing. Callers branch on the kind, never on the text.
enum class FailureKind {
    invalid_input,  // a configuration no program can be built for (named in the text)
    solver_status,  // the solver ended with a status that is no landing (Failure::status)
    infeasible,     // no time of flight, or not this one, gives a landing the method accepts
    cancelled,      // the caller's cancel flag stopped the work
    solver_error,   // the solver refused the program
};

struct Failure {
    FailureKind kind = FailureKind::invalid_input;
    std::string text;    // for people: what failed, with the values that made it fail
    std::string status;  // the solver's status name when kind is solver_status, else ""

    static Failure invalid_input(std::string text) {
        return {FailureKind::invalid_input, std::move(text), {}};
    }
    static Failure infeasible(std::string text) {
        return {FailureKind::infeasible, std::move(text), {}};
    }
};

template <class T, class E = Failure>
class Result {
public:
    Result(T value) : state_(std::in_place_index<0>, std::move(value)) {}
    Result(E error) : state_(std::in_place_index<1>, std::move(error)) {}

    bool ok() const { return state_.index() == 0; }
    explicit operator bool() const { return ok(); }

    T& value() & { return std::get<0>(state_); }
    const T& value() const& { return std::get<0>(state_); }
    T&& value() && { return std::get<0>(std::move(state_)); }

    const E& error() const& { return std::get<1>(state_); }
    E&& error() && { return std::get<1>(std::move(state_)); }

private:
    std::variant<T, E> state_;
};

}  // namespace tarvo_core
