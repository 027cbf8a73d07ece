#pragma once

#include <optional>
#include <utility>
#include <variant>

namespace common {

template <typename E> struct Unexpected
{
    E error;
};

template <typename E> Unexpected<E> unexpected(E error)
{
    return Unexpected<E>{std::move(error)};
}

// The shape of std::expected (C++23): a value or an error, never both.
template <typename T, typename E> class [[nodiscard]] Result
{
public:
    Result(T value)
        : m_state(std::in_place_index<0>, std::move(value))
    {
    }
    Result(Unexpected<E> failure)
        : m_state(std::in_place_index<1>, std::move(failure.error))
    {
    }

    bool has_value() const { return m_state.index() == 0; }
    const T &value() const { return std::get<0>(m_state); }
    T &value() { return std::get<0>(m_state); }
    const E &error() const { return std::get<1>(m_state); }
    const T *operator->() const { return &value(); }
    const T &operator*() const { return value(); }

private:
    std::variant<T, E> m_state;
};

// Success without a value, or an error: std::expected<void, E>.
template <typename E> class [[nodiscard]] Result<void, E>
{
public:
    Result() = default;
    Result(Unexpected<E> failure)
        : m_error(std::move(failure.error))
    {
    }

    bool has_value() const { return !m_error.has_value(); }
    const E &error() const { return *m_error; }

private:
    std::optional<E> m_error;
};

} // namespace common
