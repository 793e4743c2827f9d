#pragma once

#include <QString>

// The directory where every file and directory dialog starts.
namespace DataRoot {

QString get();
void set(const QString &directory);
QString builtIn();
// Where file dialogs open: the data root when it is an existing directory, else the
// working directory. A missing folder must not be handed to a dialog, which would
// take its last name for the file name.
QString dialogStart();

} // namespace DataRoot
