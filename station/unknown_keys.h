#pragma once

#include <QString>
#include <QStringList>

#include "run_config.h"

namespace zarv::station {

// Every key config.txt may hold: the run settings and the optional keys.
QStringList KnownConfigKeys();

// One text per line that looks like a setting ("name = value") but begins with
// no known key, naming the nearest known one: a misspelt optional key would
// otherwise be ignored without a word. Lines of free text are notes.
QStringList UnknownKeyNotes(const ConfigLines& lines);

}  // namespace zarv::station
