#pragma once

#include <QString>
#include <stdexcept>

namespace zarv::station {

// A run-time error that ends a command handler; the handler shows its text in an
// error box with a full stop appended.
class StationError : public std::runtime_error {
  public:
    explicit StationError(const QString& text)
        : std::runtime_error(text.toStdString()), text_(text) {}
    const QString& text() const { return text_; }

  private:
    QString text_;
};

inline StationError fileNotFound() {
    return StationError(QStringLiteral("File not found"));
}
inline StationError notValidInteger(const QString& s) {
    return StationError(QStringLiteral("'%1' is not a valid integer value").arg(s));
}
inline StationError notValidFloat(const QString& s) {
    return StationError(QStringLiteral("'%1' is not a valid floating point value").arg(s));
}

}  // namespace zarv::station
