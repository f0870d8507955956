#pragma once

#include <QString>

#include <optional>
#include <utility>
#include <variant>

// Why an engine call gave no result, in the words a person reads: the system's reason or one of
// the engine's own ("too large").
struct Failure {
    QString reason;
};

// What an engine call gives back: its value, or the Failure that stopped it. The engine's one way
// of reporting that something went wrong; a call with no value returns Outcome<>. Reads like
// std::optional, with reason() for the failure.
template <typename T = void>
class [[nodiscard]] Outcome {
public:
    Outcome(T value) : m_result(std::move(value)) {}
    Outcome(Failure failure) : m_result(std::move(failure)) {}

    explicit operator bool() const { return m_result.index() == 0; }
    T &operator*() & { return std::get<0>(m_result); }
    const T &operator*() const & { return std::get<0>(m_result); }
    T &&operator*() && { return std::get<0>(std::move(m_result)); }
    T *operator->() { return &std::get<0>(m_result); }
    const T *operator->() const { return &std::get<0>(m_result); }
    const QString &reason() const { return std::get<1>(m_result).reason; }

private:
    std::variant<T, Failure> m_result;
};

template <>
class [[nodiscard]] Outcome<void> {
public:
    Outcome() = default;
    Outcome(Failure failure) : m_failure(std::move(failure.reason)) {}

    explicit operator bool() const { return !m_failure; }
    const QString &reason() const { return *m_failure; }

private:
    std::optional<QString> m_failure;
};
