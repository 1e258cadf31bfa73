// Failures as values: what the system layer gives back instead of a bare
// false or an empty optional, so that the cause (the system's error code and
// the path it concerns) can travel up to whoever reports it.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <utility>

namespace kelzar {

struct Failure {
    std::uint32_t code = 0; // the system's own error number
    std::string operation;  // what was being done: "open", "move", "list", ...
    std::string path;       // what it was done to
};

// A value, or the failure that kept it from being made.
template <typename T> class Result {
  public:
    Result(T value) : value_(std::move(value)) {}
    Result(Failure failure) : failure_(std::move(failure)) {}

    explicit operator bool() const { return value_.has_value(); }
    bool Ok() const { return value_.has_value(); }
    T& operator*() { return *value_; }
    const T& operator*() const { return *value_; }
    T* operator->() { return &*value_; }
    const T* operator->() const { return &*value_; }
    // Meaningful only when there is no value.
    const Failure& Why() const { return failure_; }

  private:
    std::optional<T> value_;
    Failure failure_;
};

// Done, or the failure.
class Status {
  public:
    Status() = default;
    Status(Failure failure) : failure_(std::move(failure)) {}
    static Status Done() { return {}; }

    explicit operator bool() const { return !failure_.has_value(); }
    bool Ok() const { return !failure_.has_value(); }
    const Failure& Why() const { return *failure_; }

  private:
    std::optional<Failure> failure_;
};

} // namespace kelzar
