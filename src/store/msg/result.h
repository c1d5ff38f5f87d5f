#pragma once
// Errors as values for the compound-file and MSG code: a Status says whether an operation worked
// and why not; a Result<T> carries a value or the reason there is none.
#include <optional>
#include <string>
#include <utility>

namespace parvelle::msg {

class [[nodiscard]] Status {
public:
    static Status success() { return Status(); }
    static Status failure(std::string reason) { return Status(std::move(reason)); }

    bool ok() const { return !error_.has_value(); }
    explicit operator bool() const { return ok(); }
    // Empty when ok().
    const std::string& error() const {
        static const std::string none;
        return error_ ? *error_ : none;
    }

private:
    Status() = default;
    explicit Status(std::string reason) : error_(std::move(reason)) {}
    std::optional<std::string> error_;
};

template <class T> class [[nodiscard]] Result {
public:
    Result(T value) : value_(std::move(value)) {}
    Result(Status failed) : error_(failed.error()) {}
    static Result failure(std::string reason) { return Result(Status::failure(std::move(reason))); }

    bool ok() const { return value_.has_value(); }
    explicit operator bool() const { return ok(); }
    const std::string& error() const { return error_; }
    T& value() { return *value_; }
    const T& value() const { return *value_; }
    T& operator*() { return *value_; }
    const T& operator*() const { return *value_; }
    T* operator->() { return &*value_; }
    const T* operator->() const { return &*value_; }

private:
    std::optional<T> value_;
    std::string error_;
};

} // namespace parvelle::msg
