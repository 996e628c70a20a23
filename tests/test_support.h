#pragma once

#include <gtest/gtest.h>

#include <QString>
#include <QStringList>
#include <ostream>

// Failing comparisons print the text, not its bytes.
inline void PrintTo(const QString& text, std::ostream* out) {
    *out << '"' << text.toStdString() << '"';
}
inline void PrintTo(const QStringList& list, std::ostream* out) {
    *out << '{';
    for (qsizetype i = 0; i < list.size(); ++i) {
        if (i) *out << ", ";
        PrintTo(list[i], out);
    }
    *out << '}';
}

inline std::ostream& operator<<(std::ostream& out, const QString& text) {
    return out << text.toStdString();
}

// The last and first entries of a list the code under test filled; an empty list
// fails the test instead of crashing it.
template <typename List>
typename List::value_type LastOf(const List& list) {
    if (list.isEmpty()) {
        ADD_FAILURE() << "expected a last entry, the list is empty";
        return {};
    }
    return list.last();
}
template <typename List>
typename List::value_type FirstOf(const List& list) {
    if (list.isEmpty()) {
        ADD_FAILURE() << "expected a first entry, the list is empty";
        return {};
    }
    return list.first();
}
