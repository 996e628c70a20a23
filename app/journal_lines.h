#pragma once

#include <QString>
#include <cstdio>

namespace zarv::app {

// Lines for the systemd journal. When standard output or error is the journal
// (JOURNAL_STREAM names it), each line starts with its priority, "<3>" for an
// error to "<6>" for plain information, so that the journal files errors and
// warnings as such; elsewhere lines stay as they are.
bool IsJournal(std::FILE* stream);

enum class LineKind { Log, Message, Error };
// Qt's own warnings (a missing runtime directory, a font) go to standard error
// like the station's lines: with their priority when that is the journal.
void RouteQtMessagesToJournal();

// The syslog priority of a line: errors 3, warnings 4, notices 5, the rest 6.
int JournalPriority(const QString& line, LineKind kind);

}  // namespace zarv::app
