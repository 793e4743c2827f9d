#include "DataRoot.h"

#include <QDir>
#include <QFileInfo>

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

QString dialogStart()
{
    const QString root = get();
    if (!root.isEmpty() && QFileInfo(root).isDir())
        return QDir(root).absolutePath();
    return QDir::currentPath();
}

void set(const QString &directory)
{
    root() = directory;
}

} // namespace DataRoot
