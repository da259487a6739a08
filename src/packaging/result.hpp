#pragma once
// A value or the reason it could not be produced. Parsers in this library
// return this instead of throwing, so malformed input is an ordinary value.

#include <string>
#include <utility>
#include <variant>

namespace ostrel::packaging {

struct Error {
  std::string message;
};

template <class T>
class Result {
 public:
  Result(T value) : v_(std::move(value)) {}           // NOLINT(google-explicit-constructor)
  Result(Error error) : v_(std::move(error)) {}        // NOLINT(google-explicit-constructor)

  bool ok() const noexcept { return v_.index() == 0; }
  explicit operator bool() const noexcept { return ok(); }

  const T& value() const& { return std::get<0>(v_); }
  T& value() & { return std::get<0>(v_); }
  T&& value() && { return std::get<0>(std::move(v_)); }
  const T& operator*() const& { return value(); }
  const T* operator->() const { return &value(); }

  const std::string& error() const { return std::get<1>(v_).message; }

 private:
  std::variant<T, Error> v_;
};

}  // namespace ostrel::packaging
