#pragma once
// Errors that travel from the store and the cipher up to the caller of a library call.
// The library answers with result codes; only real failures (database, conversion) are thrown.
#include <QString>
#include <stdexcept>

namespace vardex {

class Error : public std::runtime_error {
  public:
    explicit Error(const QString& message)
        : std::runtime_error(message.toUtf8().toStdString()), m_message(message) {}
    const QString& message() const { return m_message; }

  private:
    QString m_message;
};

// A statement the database refused, a connection that could not be opened.
class DbError : public Error {
  public:
    using Error::Error;
};

// A text that does not convert: a cipher text with a non-hex pair, a field that is not a number.
class ConvertError : public Error {
  public:
    using Error::Error;
};

} // namespace vardex
