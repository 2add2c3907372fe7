// How the layers above the serial link say that something failed and why: a Status (done,
// or an Error) or a Result<T> (a value, or an Error). The serial link keeps its ST_* codes;
// above it every failure travels as one of these, its reason in words a user reads. Where a
// failure has more to say than a reason (a configuration file's refused key), Result takes
// that type as its error instead.
//
// Plain values; any thread.
#pragma once

#include <string>
#include <utility>
#include <variant>

namespace zb {

struct Error {
    std::string reason;    // never empty: "Permission denied", "a.db: no usable table ..."
    bool missing = false;  // a file, or a folder on its path, does not exist
};

// The failure of a call that returns nothing else.
class [[nodiscard]] Status {
public:
    Status() = default;                                            // done
    Status(Error error) : error_(std::move(error)), ok_(false) {}  // NOLINT: implicit by design

    static Status Fail(std::string reason, bool missing = false) {
        return Error{std::move(reason), missing};
    }

    bool ok() const { return ok_; }
    explicit operator bool() const { return ok_; }
    // Only when !ok().
    const Error& error() const { return error_; }
    const std::string& reason() const { return error_.reason; }
    bool missing() const { return error_.missing; }

private:
    Error error_;
    bool ok_ = true;
};

// A value, or why there is none.
template <typename T, typename E = Error>
class [[nodiscard]] Result {
public:
    Result(T value) : v_(std::in_place_index<0>, std::move(value)) {}  // NOLINT: implicit
    Result(E error) : v_(std::in_place_index<1>, std::move(error)) {}  // NOLINT: implicit

    bool ok() const { return v_.index() == 0; }
    explicit operator bool() const { return ok(); }
    // Only when ok().
    T& value() { return std::get<0>(v_); }
    const T& value() const { return std::get<0>(v_); }
    T& operator*() { return value(); }
    const T& operator*() const { return value(); }
    T* operator->() { return &value(); }
    const T* operator->() const { return &value(); }
    // Only when !ok().
    const E& error() const { return std::get<1>(v_); }

private:
    std::variant<T, E> v_;
};

}  // namespace zb
