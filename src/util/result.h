// Result<T>: a value, or an Error: one sentence for the user, what kind of
// failure it is, and the system's error code where there is one. Never an
// exception.
//
// Every operation that can fail returns Result<T>. The kind lets a caller
// tell the failures it handles differently (an item that is not there, a
// change that needs administrator rights or the user's decision) without
// reading the sentence. Functions named try_... answer "absent" as a value
// (an empty optional), and fail only for everything else. GCC 12's
// <expected> has no monadic members, so QM_TRY propagates a failure by hand.
#pragma once

#include <cstdint>
#include <expected>
#include <ostream>
#include <string>
#include <string_view>
#include <utility>

namespace qm {

enum class ErrorKind {
    failed,          // anything else: the sentence says what went wrong
    not_found,       // what was asked for is not there
    needs_admin,     // it needs administrator (or root) rights this run lacks
    needs_decision,  // it needs the user's decision; the sentence is the question
};

struct Error {
    ErrorKind kind = ErrorKind::failed;
    std::string message;     // one sentence for the user
    std::uint32_t code = 0;  // the system's error code; 0 when there is none

    [[nodiscard]] bool is(ErrorKind wanted) const { return kind == wanted; }

    // Tests and callers that only care about the sentence compare it directly.
    friend bool operator==(const Error& error, std::string_view text) { return error.message == text; }
    friend std::ostream& operator<<(std::ostream& out, const Error& error) { return out << error.message; }
};

template <class T>
using Result = std::expected<T, Error>;

using Failure = std::unexpected<Error>;

// Builds the failure side of any Result<T>.
inline Failure fail(std::string message) { return Failure(Error{ErrorKind::failed, std::move(message), 0}); }
inline Failure fail(ErrorKind kind, std::string message, std::uint32_t code = 0) {
    return Failure(Error{kind, std::move(message), code});
}
// Passes an error on unchanged, with its kind and code.
inline Failure fail(Error error) { return Failure(std::move(error)); }

}  // namespace qm

// Evaluates a Result expression; on failure returns its error from the
// enclosing function, otherwise yields the value. Uses a GNU statement
// expression, which both g++ and clang accept.
#define QM_TRY(expr)                                                               \
    ({                                                                             \
        auto qm_try_result_ = (expr);                                              \
        if (!qm_try_result_) return ::qm::fail(std::move(qm_try_result_).error()); \
        std::move(qm_try_result_).value();                                         \
    })

// The same for Result<void>.
#define QM_TRY_VOID(expr)                                                          \
    do {                                                                           \
        auto qm_try_result_ = (expr);                                              \
        if (!qm_try_result_) return ::qm::fail(std::move(qm_try_result_).error()); \
    } while (false)
