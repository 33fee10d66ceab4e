// Results that carry either a value or an error, and the I/O error type that output
// operations return. Errors travel up unchanged; nothing here throws.
#pragma once

#include <string>
#include <type_traits>
#include <utility>
#include <variant>

namespace velt {

// Wraps an error value so that Result<std::string, std::string> stays unambiguous.
template <class E>
struct Err {
  E error;
};
template <class E>
Err(E) -> Err<E>;

template <class T, class E>
class [[nodiscard]] Result {
 public:
  template <class U = T>
  requires std::is_constructible_v<T, U&&> Result(U&& value)
      : v_(std::in_place_index<0>, std::forward<U>(value)) {}
  template <class F>
  requires std::is_constructible_v<E, F&&> Result(Err<F> e)
      : v_(std::in_place_index<1>, std::move(e.error)) {}

  bool ok() const { return v_.index() == 0; }
  explicit operator bool() const { return ok(); }

  T& value() & { return std::get<0>(v_); }
  const T& value() const& { return std::get<0>(v_); }
  T&& value() && { return std::get<0>(std::move(v_)); }
  T& operator*() & { return value(); }
  const T& operator*() const& { return value(); }
  T&& operator*() && { return std::move(*this).value(); }
  T* operator->() { return &value(); }
  const T* operator->() const { return &value(); }

  E& error() & { return std::get<1>(v_); }
  const E& error() const& { return std::get<1>(v_); }
  E&& error() && { return std::get<1>(std::move(v_)); }

 private:
  std::variant<T, E> v_;
};

// The success-only form: holds nothing or an error.
template <class E>
class [[nodiscard]] Result<void, E> {
 public:
  Result() = default;
  template <class F>
  requires std::is_constructible_v<E, F&&> Result(Err<F> e)
      : v_(std::in_place_index<1>, std::move(e.error)) {}

  bool ok() const { return v_.index() == 0; }
  explicit operator bool() const { return ok(); }

  E& error() & { return std::get<1>(v_); }
  const E& error() const& { return std::get<1>(v_); }
  E&& error() && { return std::get<1>(std::move(v_)); }

 private:
  std::variant<std::monostate, E> v_;
};

// An operating-system I/O error: the errno value, or 0 with a message for conditions the
// system does not name (a write that accepted no bytes).
struct IoError {
  int code = 0;
  std::string message;

  // Diagnostic form, e.g. "Broken pipe (os error 32)".
  std::string debug() const;
};

template <class T>
using IoResult = Result<T, IoError>;

IoError last_os_error();               // from errno
IoError io_error_from_code(int code);  // from an explicit errno value

}  // namespace velt

// Returns the error of an expression that yields a Result<void, E> (or any Result) from the
// enclosing function, unchanged.
#define VELT_TRY(expr)                                                                   \
  do {                                                                                   \
    auto velt_try_result_ = (expr);                                                      \
    if (!velt_try_result_.ok()) return ::velt::Err{std::move(velt_try_result_).error()}; \
  } while (0)
