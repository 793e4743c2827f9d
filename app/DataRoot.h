#pragma once

#include <QString>

// The directory where every file and directory dialog starts.
namespace DataRoot {

QString get();
void set(const QString &directory);
QString builtIn();

} // namespace DataRoot
