#pragma once

#include <QString>
#include <stdexcept>

namespace zarv::station {

// A run-time error that ends a command handler; the handler shows its text in an
// error box with a full stop appended.
class StationError : public std::runtime_error {
  public:
    // text: the fixed message; detail: what it concerns (a file, a key), if known.
    explicit StationError(const QString& text, const QString& detail = QString())
        : std::runtime_error(text.toStdString()), text_(text), detail_(detail) {}
    const QString& text() const { return text_; }
    const QString& detail() const { return detail_; }
    // The error box: the fixed text with its full stop, then what it concerns.
    QString boxText() const {
        return text_ + QLatin1Char('.') +
               (detail_.isEmpty() ? QString() : QStringLiteral("\n\n") + detail_);
    }

  private:
    QString text_;
    QString detail_;
};

// A value as a message shows it: control characters escaped, and cut short past
// 60 characters with how long it was, so that no input fills a box.
inline QString ShownValue(const QString& value) {
    constexpr qsizetype kShown = 60;
    QString shown;
    qsizetype characters = 0;
    for (const QChar c : value) {
        if (characters++ >= kShown) continue;
        shown += c.unicode() < 0x20 || c.unicode() == 0x7F
                     ? QStringLiteral("\\x%1").arg(c.unicode(), 2, 16, QLatin1Char('0'))
                     : QString(c);
    }
    if (characters > kShown) shown += QStringLiteral("... (%1 characters)").arg(characters);
    return shown;
}

inline StationError fileNotFound() {
    return StationError(QStringLiteral("File not found"));
}
inline StationError notValidInteger(const QString& s) {
    return StationError(QStringLiteral("'%1' is not a valid integer value").arg(ShownValue(s)));
}
inline StationError notValidFloat(const QString& s) {
    return StationError(
        QStringLiteral("'%1' is not a valid floating point value").arg(ShownValue(s)));
}

}  // namespace zarv::station
