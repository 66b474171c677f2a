// Result<T>: a value or one sentence for the user, never an exception.
//
// Every operation that can fail returns Result<T>. GCC 12's <expected> has no
// monadic members, so QM_TRY propagates a failure to the caller by hand.
#pragma once

#include <expected>
#include <string>
#include <utility>

namespace qm {

template <class T>
using Result = std::expected<T, std::string>;

using Failure = std::unexpected<std::string>;

// Builds the failure side of any Result<T> from one message.
inline Failure fail(std::string message) { return Failure(std::move(message)); }

}  // namespace qm

// Evaluates a Result expression; on failure returns the message from the
// enclosing function, otherwise yields the value. Uses a GNU statement
// expression, which both g++ and clang accept.
#define QM_TRY(expr)                                                     \
    ({                                                                   \
        auto qm_try_result_ = (expr);                                    \
        if (!qm_try_result_) return ::qm::fail(std::move(qm_try_result_).error()); \
        std::move(qm_try_result_).value();                               \
    })

// The same for Result<void>.
#define QM_TRY_VOID(expr)                                                \
    do {                                                                 \
        auto qm_try_result_ = (expr);                                    \
        if (!qm_try_result_) return ::qm::fail(std::move(qm_try_result_).error()); \
    } while (false)
