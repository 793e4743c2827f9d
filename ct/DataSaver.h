#pragma once

#include "ResultLayout.h"
#include "RunRecord.h"
#include "util/SafeFile.h"

#include <QHash>
#include <QObject>
#include <QString>

#include <atomic>
#include <functional>

class QIODevice;
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
    // Does nothing itself: see the class comment.
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
    void note(const QString &path, const QString &name, const QString &tag, const QString &no,
              const QStringList &written, const QStringList &failed);

    using Writer = std::function<bool(SafeFile::Output *file)>;
    // The files written (absolute paths); those that failed go to *failed.
    QStringList saveTo(const QString &path, const QString &tag, const QString &no,
                       const QString &fileName, const Writer &writer, QStringList *failed);
    static bool writeFile(const QString &filePath, const Writer &writer);
};
