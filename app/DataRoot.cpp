#include "DataRoot.h"

namespace DataRoot {

namespace {
QString &root()
{
    static QString value = builtIn();
    return value;
}
} // namespace

QString builtIn()
{
    return QStringLiteral("/home/vandrel/Data");
}

QString get()
{
    return root();
}

void set(const QString &directory)
{
    root() = directory;
}

} // namespace DataRoot
