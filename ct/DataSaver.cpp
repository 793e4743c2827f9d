#include "DataSaver.h"

#include "AttenuationScale.h"
#include "GreyPng.h"
#include "SavingData.h"
#include "SavingImg.h"
#include "imgdata/H5Writer.h"
#include "util/SafeFile.h"

#include <QCoreApplication>
#include <QDebug>
#include <QDir>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>

#if defined(__linux__)
#include <fcntl.h>
#include <unistd.h>
#endif

namespace {

#if defined(__linux__)
// All `size` bytes to the file or false; a signal does not cut the write short.
bool writeAll(int fd, const char *data, size_t size)
{
    while (size > 0) {
        const ssize_t n = ::write(fd, data, size);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        data += n;
        size -= static_cast<size_t>(n);
    }
    return true;
}
#endif

// Writes `bytes` to a new, empty file. Large results go past the page cache
// (O_DIRECT): copying a 17 MB text into the cache costs the kernel more CPU than
// formatting it, CPU the reconstruction engines are using at the same time. The
// data go through a block-aligned buffer padded to whole blocks, and the file is
// then cut to its true size. Where the file system refuses direct writes, the
// bytes are written the usual way.
bool writeBytes(SafeFile::Output *file, const QByteArray &bytes)
{
#if defined(__linux__) && defined(O_DIRECT)
    constexpr qsizetype directFrom = qsizetype(1) << 20;
    constexpr size_t block = 4096;
    const int fd = file->descriptor();
    const int flags = fd >= 0 && bytes.size() >= directFrom ? fcntl(fd, F_GETFL) : -1;
    if (flags >= 0 && fcntl(fd, F_SETFL, flags | O_DIRECT) == 0) {
        const size_t size = static_cast<size_t>(bytes.size());
        const size_t padded = (size + block - 1) / block * block;
        // One buffer per saver thread, kept for the next file.
        thread_local std::unique_ptr<char, decltype(&std::free)> buffer(nullptr, &std::free);
        thread_local size_t capacity = 0;
        if (capacity < padded) {
            buffer.reset(static_cast<char *>(std::aligned_alloc(block, padded)));
            capacity = buffer ? padded : 0;
        }
        bool direct = buffer != nullptr;
        if (direct) {
            std::memcpy(buffer.get(), bytes.constData(), size);
            std::memset(buffer.get() + size, 0, padded - size);
            direct = writeAll(fd, buffer.get(), padded);
        }
        fcntl(fd, F_SETFL, flags);
        if (direct && ::ftruncate(fd, static_cast<off_t>(size)) != 0)
            file->fail(QString::fromLocal8Bit(std::strerror(errno)));
        if (direct)
            return file->ok();
        // Refused (or cut short): start again the usual way.
        if (::ftruncate(fd, 0) != 0 || ::lseek(fd, 0, SEEK_SET) != 0) {
            file->fail(QString::fromLocal8Bit(std::strerror(errno)));
            return false;
        }
    }
#endif
    return file->write(bytes.constData(), bytes.size());
}

} // namespace

DataSaver::DataSaver(QObject *parent)
    : QObject(parent)
{
}

// An HDF5 file still open here was never completed: its temporary file goes.
DataSaver::~DataSaver() = default;

void DataSaver::setSubFolders(bool inSubFolders, bool ofEnergy, bool ofSlice)
{
    saveInSubFolders = inSubFolders;
    subOfEnergy = ofEnergy;
    subOfSlice = ofSlice;
}

ResultLayout DataSaver::layout() const
{
    return {saveInSubFolders, subOfEnergy, subOfSlice};
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
    if (!data->failure.isEmpty()) {
        Ledger &ledger = ledgers[sourceKey(data->path, data->name, data->tag)];
        ledger.failures.append({data->no.toInt(), data->failure});
        return;
    }
    QStringList written;
    QStringList failed;
    auto bytesWriter = [](const QByteArray &bytes) {
        return [&bytes](SafeFile::Output *file) { return writeBytes(file, bytes); };
    };
    if (data->writeDat)
        written += saveTo(data->path, data->tag, data->no,
                          ResultLayout::fileName(data->name, data->tag, data->no, "dat"),
                          bytesWriter(data->data), &failed);
    if (!data->tiff.isEmpty())
        written += saveTo(data->path, data->tag, data->no,
                          ResultLayout::fileName(data->name, data->tag, data->no, "tif"),
                          bytesWriter(data->tiff), &failed);
    if (data->h5)
        saveH5(*data, &written, &failed);
    note(data->path, data->name, data->tag, data->no, written, failed);
}

// Each set saving in HDF5 has one file, <name>-<tag>.h5 where its run record goes:
// every slice becomes a frame of /entry/data/data as it arrives, its number the same
// entry of /entry/data/slice; the record completes the file and renames it.
void DataSaver::saveH5(const SavingData &data, QStringList *written, QStringList *failed)
{
    const QString key = sourceKey(data.path, data.name, data.tag);
    const QString fileName = QStringLiteral("%1-%2.h5").arg(data.name, data.tag);
    const std::vector<double> region{double(data.x0), double(data.z0),
                                     double(data.x0 + data.columns), double(data.z0 + data.rows)};
    H5Set &set = h5Sets[key];
    if (!set.file) {
        if (!ResultLayout::isNamePartAllowed(fileName) ||
            !ResultLayout::isNamePartAllowed(data.tag)) {
            qDebug() << "Result name or tag not allowed (separator or \"..\")" << fileName;
            h5Sets.erase(key);
            *failed << fileName;
            ++filesFailed;
            return;
        }
        const QString folder = layout().recordFolder(data.path, data.tag);
        QDir().mkpath(folder);
        set.file = std::make_unique<H5Writer>(QDir(folder).absoluteFilePath(fileName));
        set.region = region;
        set.n = data.n;
        set.projections = data.projections;
    }
    // A frame the file can not take fails alone; one that breaks the file fails it.
    const bool sameRegion =
        set.region == region && data.values.size() == size_t(data.columns) * size_t(data.rows);
    if (!sameRegion)
        qDebug() << "HDF5 result frame of another region than the set's first, not written"
                 << data.no << set.file->path();
    if (sameRegion &&
        set.file->appendFrame("/entry/data/data", data.rows, data.columns, data.values.data()) &&
        set.file->appendInt("/entry/data/slice", data.no.toInt())) {
        *written << set.file->path();
        return;
    }
    *failed << set.file->path();
    ++filesFailed;
}

bool DataSaver::commitH5(const QString &key, const QJsonObject &record)
{
    const auto it = h5Sets.find(key);
    if (it == h5Sets.end())
        return true;
    H5Set set = std::move(it->second);
    h5Sets.erase(it);
    H5Writer &file = *set.file;
    const char *data = "/entry/data/data";
    if (file.ok() && file.frames(data) > 0) {
        file.setAttribute(data, "region", set.region);
        file.setAttribute(data, "n", std::vector<double>{double(set.n)});
        file.setAttribute(data, "projections", std::vector<double>{double(set.projections)});
        file.setAttribute(data, "scale", QString::fromLatin1(attenuationScaleRule()));
        if (!record.isEmpty())
            file.setAttribute("/entry", "run_record",
                              QString::fromUtf8(QJsonDocument(record).toJson()));
    }
    if (file.commit()) {
        ++filesWritten;
        return true;
    }
    ++filesFailed;
    return false;
}

void DataSaver::saveImg(SavingImg *img)
{
    if (!img)
        return;
    const QImage &image = img->img;
    // Result pictures are greyscale: they take the fast encoder; anything else
    // goes through Qt's.
    const QByteArray grey = img->png.isEmpty() ? GreyPng::encode(image) : img->png;
    QStringList failed;
    const QStringList written = saveTo(
        img->path, img->tag, img->no, ResultLayout::fileName(img->name, img->tag, img->no, "png"),
        [&image, &grey](SafeFile::Output *file) {
            return grey.isEmpty() ? image.save(file->device(), "png")
                                  : file->write(grey.constData(), grey.size());
        },
        &failed);
    note(img->path, img->name, img->tag, img->no, written, failed);
}

QString DataSaver::sourceKey(const QString &path, const QString &name, const QString &tag)
{
    return QStringList{QDir::cleanPath(path), name, tag}.join(QChar(0x1f));
}

void DataSaver::note(const QString &path, const QString &name, const QString &tag,
                     const QString &no, const QStringList &written, const QStringList &failed)
{
    Ledger &ledger = ledgers[sourceKey(path, name, tag)];
    bool numbered = false;
    const int slice = no.toInt(&numbered);
    if (!written.isEmpty())
        ledger.slices[slice] += written;
    for (const QString &file : failed)
        ledger.failures.append({numbered ? std::optional<int>(slice) : std::nullopt,
                                QStringLiteral("Can not write result file %1").arg(file)});
}

void DataSaver::writeRunRecordWDiscard(RunRecord *record, QStringList sources)
{
    std::unique_ptr<RunRecord> owned(record);
    if (!record)
        return;
    if (!ResultLayout::isNamePartAllowed(record->name) ||
        !ResultLayout::isNamePartAllowed(record->tag)) {
        qDebug() << "Run record name or tag not allowed (separator or \"..\")" << record->name
                 << record->tag;
        return;
    }
    bool any = !record->failures.isEmpty();
    for (const QString &key : sources) {
        const auto it = ledgers.constFind(key);
        if (it == ledgers.constEnd())
            continue;
        for (auto s = it->slices.cbegin(); s != it->slices.cend(); ++s)
            record->slices[s.key()] += s.value();
        record->failures += it->failures;
        any = true;
        ledgers.erase(it);
    }
    if (!any)
        return;
    record->folder = layout().recordFolder(record->folder, record->tag);
    QDir().mkpath(record->folder);
    // The HDF5 files carry the record; one that can not be written loses its
    // slices, which the record then counts as failed.
    for (const QString &key : sources) {
        if (h5Sets.find(key) == h5Sets.end())
            continue;
        const QString h5Path = h5Sets[key].file->path();
        if (commitH5(key, record->toJson()))
            continue;
        for (auto s = record->slices.begin(); s != record->slices.end();) {
            if (s.value().removeAll(h5Path) > 0)
                record->failures.append(
                    {s.key(), QStringLiteral("Can not write result file %1").arg(h5Path)});
            s = s.value().isEmpty() ? record->slices.erase(s) : std::next(s);
        }
    }
    // A record that could not be written loses the account of the slices saved:
    // the run has failed even though every result file is in place.
    if (!record->write())
        ++filesFailed;
}

void DataSaver::saveImgWDiscard(SavingImg *img)
{
    std::unique_ptr<SavingImg> owned(img);
    saveImg(img);
}

void DataSaver::flush()
{
    while (!h5Sets.empty()) {
        const QString key = h5Sets.begin()->first;
        qDebug() << "HDF5 result closed without its run record"
                 << h5Sets.begin()->second.file->path();
        commitH5(key, QJsonObject());
    }
}

QStringList DataSaver::saveTo(const QString &path, const QString &tag, const QString &no,
                              const QString &fileName, const Writer &writer, QStringList *failed)
{
    QStringList written;
    for (const QString &part : {fileName, tag, no}) {
        if (!ResultLayout::isNamePartAllowed(part)) {
            qDebug() << "Result name or tag not allowed (separator or \"..\")" << part;
            *failed << fileName;
            ++filesFailed;
            return written;
        }
    }
    const ResultLayout rule = layout();
    const QStringList folders = rule.foldersOf(path, tag, no);
    if (folders.isEmpty()) {
        qDebug() << "No sub folder kind chosen, result file not written" << fileName;
        ++filesFailed;
    }
    for (const QString &folder : folders) {
        // Only sub folders are made here; the base folder is the main window's to make.
        if (rule.inSubFolders)
            QDir().mkpath(folder);
        const QString filePath = QDir(folder).absoluteFilePath(fileName);
        if (writeFile(filePath, writer)) {
            written << filePath;
            ++filesWritten;
        } else {
            *failed << filePath;
            ++filesFailed;
        }
    }
    return written;
}

// The result goes to a temporary file beside the final one, which it replaces in
// one rename only when it is complete, so an interrupted or failed write never
// leaves a truncated result file under the result's name. Unlike a record, a
// result is not synced to the disk before the rename: a run writes up to several
// hundred MB, and waiting for each file would make saving cost more than the
// reconstruction; the system writes the data back on its own.
bool DataSaver::writeFile(const QString &filePath, const Writer &writer)
{
    SafeFile::Output file(filePath);
    if (file.ok() && !writer(&file))
        file.fail(QStringLiteral("not written"));
    if (file.commit())
        return true;
    qDebug() << "Can not write result file" << filePath;
    return false;
}
