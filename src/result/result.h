#pragma once

#include <QString>
#include <optional>
#include <utility>

// What everything that can fail gives back: its value, or one Chinese line saying why not.
//   Result<int> port = portFrom(text);
//   if (!port) return Failure(port.error());
template <typename T> class [[nodiscard]] Result;

// Why something failed, convertible to a failed Result of any type.
struct Failure {
    explicit Failure(QString why)
        : why(std::move(why))
    {
    }
    QString why;
};

template <typename T> class [[nodiscard]] Result {
public:
    Result(T value)
        : m_value(std::move(value))
    {
    }
    Result(Failure failure)
        : m_error(std::move(failure.why))
    {
    }

    explicit operator bool() const { return m_value.has_value(); }
    const T &operator*() const { return *m_value; }
    T &operator*() { return *m_value; }
    const T *operator->() const { return &*m_value; }
    T *operator->() { return &*m_value; }
    const QString &error() const { return m_error; }

private:
    std::optional<T> m_value;
    QString m_error;
};

template <> class [[nodiscard]] Result<void> {
public:
    Result() = default;
    Result(Failure failure)
        : m_error(std::move(failure.why))
        , m_failed(true)
    {
    }

    explicit operator bool() const { return !m_failed; }
    const QString &error() const { return m_error; }

private:
    QString m_error;
    bool m_failed = false;
};
