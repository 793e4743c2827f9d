#include "DataSaver.h"

#include "SavingData.h"
#include "SavingImg.h"

#include <QDebug>
#include <QDir>
#include <QSaveFile>

#include <memory>

DataSaver::DataSaver(QObject *parent)
    : QObject(parent)
{
}

void DataSaver::setSubFolders(bool inSubFolders, bool ofEnergy, bool ofSlice)
{
    saveInSubFolders = inSubFolders;
    subOfEnergy = ofEnergy;
    subOfSlice = ofSlice;
}

QString DataSaver::fileNameOf(const QString &name, const QString &tag, const QString &no,
                              const QString &extension)
{
    return QStringLiteral("%1-%2-%3.%4").arg(name, tag, no, extension);
}

QStringList DataSaver::foldersFor(const QString &path, const QString &tag, const QString &no) const
{
    if (!saveInSubFolders)
        return {path};
    // QDir joins with "/", which Qt maps to the platform's separator on every system.
    QStringList folders;
    if (subOfEnergy)
        folders << QDir(path).filePath(tag);
    if (subOfSlice)
        folders << QDir(path).filePath(no);
    return folders;
}

void DataSaver::saveDataWDiscard(SavingData *data)
{
    std::unique_ptr<SavingData> owned(data);
    saveData(data);
}

void DataSaver::saveData(SavingData *data)
{
    if (!data)
        return;
    const QByteArray &bytes = data->data;
    saveTo(data->path, data->tag, data->no, fileNameOf(data->name, data->tag, data->no, "dat"),
           [&bytes](QIODevice *device) { return device->write(bytes) == bytes.size(); });
}

void DataSaver::saveImg(SavingImg *img)
{
    if (!img)
        return;
    const QImage &image = img->img;
    saveTo(img->path, img->tag, img->no, fileNameOf(img->name, img->tag, img->no, "png"),
           [&image](QIODevice *device) { return image.save(device, "png"); });
}

void DataSaver::saveImgWDiscard(SavingImg *img)
{
    std::unique_ptr<SavingImg> owned(img);
    saveImg(img);
}

void DataSaver::flush() {}

bool DataSaver::isNamePartAllowed(const QString &part)
{
    return !part.contains(QLatin1Char('/')) && !part.contains(QLatin1Char('\\')) &&
           !part.contains(QLatin1String(".."));
}

bool DataSaver::saveTo(const QString &path, const QString &tag, const QString &no,
                       const QString &fileName, const Writer &writer)
{
    for (const QString &part : {fileName, tag, no}) {
        if (!isNamePartAllowed(part)) {
            qDebug() << "Result name or tag not allowed (separator or \"..\")" << part;
            return false;
        }
    }
    const QStringList folders = foldersFor(path, tag, no);
    if (folders.isEmpty()) {
        qDebug() << "No sub folder kind chosen, result file not written" << fileName;
        ++filesFailed;
    }
    for (const QString &folder : folders) {
        // Only sub folders are made here; the base folder is the main window's to make.
        if (saveInSubFolders)
            QDir().mkpath(folder);
        if (writeFile(QDir(folder).absoluteFilePath(fileName), writer))
            ++filesWritten;
        else
            ++filesFailed;
    }
    return true;
}

// The result goes to a temporary file that replaces the final one only when it is
// complete, so an interrupted or failed write never leaves a truncated result file
// under the result's name.
bool DataSaver::writeFile(const QString &filePath, const Writer &writer)
{
    QSaveFile file(filePath);
    if (file.open(QIODevice::WriteOnly) && writer(&file) && file.commit())
        return true;
    file.cancelWriting();
    qDebug() << "Can not write result file" << filePath;
    return false;
}
