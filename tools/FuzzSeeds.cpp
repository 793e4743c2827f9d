// Writes the seed corpora of the fuzz targets and the files that once took the
// program down: orvo2fuzzseeds FOLDER
#include "HostileFiles.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QTextStream>

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments();
    if (args.size() != 2) {
        QTextStream(stderr) << "usage: orvo2fuzzseeds FOLDER\n";
        return 1;
    }
    if (!HostileFiles::writeSeeds(args.at(1))) {
        QTextStream(stderr) << "can not write the seeds into " << args.at(1) << "\n";
        return 2;
    }
    QDir root(args.at(1));
    root.mkpath("hostile");
    for (const HostileFiles::Named &h : HostileFiles::all()) {
        QFile f(root.filePath("hostile/" + h.name));
        if (!f.open(QIODevice::WriteOnly) || f.write(h.bytes) != h.bytes.size())
            return 2;
    }
    return 0;
}
