#pragma once

#include "ResultLayout.h"
#include "RunRecord.h"
#include "util/SafeFile.h"

#include <QHash>
#include <QObject>
#include <QString>

#include <atomic>
#include <functional>
#include <map>
#include <memory>
#include <vector>

class H5Writer;
class QIODevice;
class QJsonObject;
class RunRecord;
class SavingData;
class SavingImg;

// Writes every result file of the program. One DataSaver lives on a thread of its
// own; engines hand it records through queued signals and it writes them in the
// order in which they arrive, so writing never holds up a reconstruction.
//
// Shutting down: stop the engines first (their threads quit and joined), then call
// flush() through Qt::BlockingQueuedConnection and quit and wait the saver's thread.
// A queued call is processed after every record queued before it, so when flush()
// returns all results are on disk; quitting the thread alone would drop the records
// still waiting in its queue.
class DataSaver : public QObject
{
    Q_OBJECT

public:
    explicit DataSaver(QObject *parent = nullptr);
    ~DataSaver() override;

    // Set from the GUI thread between runs, read on the saver's thread.
    std::atomic<bool> saveInSubFolders{false};
    std::atomic<bool> subOfEnergy{false};
    std::atomic<bool> subOfSlice{false};

    void setSubFolders(bool inSubFolders, bool ofEnergy, bool ofSlice);
    // The sub folder settings as they are now.
    ResultLayout layout() const;

    // Result files written and result files that could not be written since the
    // saver was made; counted on the saver's thread, read from any.
    std::atomic<int> filesWritten{0};
    std::atomic<int> filesFailed{0};

public slots:
    void saveDataWDiscard(SavingData *data);
    void saveData(SavingData *data);
    void saveImg(SavingImg *img);
    void saveImgWDiscard(SavingImg *img);
    // Commits the HDF5 files still open (a run whose record never came); otherwise
    // does nothing itself: see the class comment.
    void flush();
    // Completes the record with the slices and failures of the results saved
    // under `sources` (path, name, tag of data and pictures) since the last
    // record of them, writes it into the set's folder (the base folder; with
    // sub folders of energy, the energy folder) and deletes it. Nothing is
    // written when nothing was saved or failed under those sources.
    void writeRunRecordWDiscard(RunRecord *record, QStringList sources);
    // The key of a source in writeRunRecordWDiscard: path, name and tag.
    static QString sourceKey(const QString &path, const QString &name, const QString &tag);

private:
    // What was saved under one source since its last run record.
    struct Ledger
    {
        QMap<int, QStringList> slices;
        QList<RunRecord::Failure> failures;
    };
    QHash<QString, Ledger> ledgers;
    // The HDF5 file of each source saving in that format, open until its record.
    struct H5Set
    {
        std::unique_ptr<H5Writer> file;
        std::vector<double> region; // x0, z0, x1, z1 of the frames
        int n = 0;
        int projections = 0;
    };
    std::map<QString, H5Set> h5Sets;
    void saveH5(const SavingData &data, QStringList *written, QStringList *failed);
    // Completes and commits the HDF5 file of `key` with the run record `record`
    // (empty: none); false when it could not be written.
    bool commitH5(const QString &key, const QJsonObject &record);
    void note(const QString &path, const QString &name, const QString &tag, const QString &no,
              const QStringList &written, const QStringList &failed);

    using Writer = std::function<bool(SafeFile::Output *file)>;
    // The files written (absolute paths); those that failed go to *failed.
    QStringList saveTo(const QString &path, const QString &tag, const QString &no,
                       const QString &fileName, const Writer &writer, QStringList *failed);
    static bool writeFile(const QString &filePath, const Writer &writer);
};
