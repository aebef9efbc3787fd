#pragma once
#include <optional>
#include <type_traits>

// Arithmetic on numbers read from untrusted files: an overflow is an
// answer (nullopt), never a wrapped value that passes a bounds check.
namespace checked {

template <class T>
requires std::is_integral_v<T> std::optional<T> Add(T a, T b) {
    T r{};
    if (__builtin_add_overflow(a, b, &r)) return std::nullopt;
    return r;
}

template <class T>
requires std::is_integral_v<T> std::optional<T> Mul(T a, T b) {
    T r{};
    if (__builtin_mul_overflow(a, b, &r)) return std::nullopt;
    return r;
}

// Whether [offset, offset + length) lies within [0, size).
template <class T>
requires std::is_integral_v<T>
bool Within(T offset, T length, T size) {
    if constexpr (std::is_signed_v<T>)
        if (offset < 0 || length < 0) return false;
    const auto end = Add(offset, length);
    return end && *end <= size;
}

} // namespace checked
