#pragma once

#include <QObject>
#include <QString>

#include <atomic>
#include <functional>

class QIODevice;
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

    // Result files written and result files that could not be written since the
    // saver was made; counted on the saver's thread, read from any.
    std::atomic<int> filesWritten{0};
    std::atomic<int> filesFailed{0};

    // "name-tag-no.ext", filled in one step so that a "%" in any part stays as typed.
    static QString fileNameOf(const QString &name, const QString &tag, const QString &no,
                              const QString &extension);
    // The folders a record goes to under the current flags (none when sub folders are
    // on but neither kind is chosen).
    QStringList foldersFor(const QString &path, const QString &tag, const QString &no) const;
    // A result name, tag or slice text is one file-name component: no separator
    // ("/" or "\\") and no "..", so that nothing is written outside the chosen folder.
    static bool isNamePartAllowed(const QString &part);

public slots:
    void saveDataWDiscard(SavingData *data);
    void saveData(SavingData *data);
    void saveImg(SavingImg *img);
    void saveImgWDiscard(SavingImg *img);
    // Does nothing itself: see the class comment.
    void flush();

private:
    using Writer = std::function<bool(QIODevice *device)>;
    // False (nothing written) when the record's name or tag could leave the folder.
    bool saveTo(const QString &path, const QString &tag, const QString &no, const QString &fileName,
                const Writer &writer);
    static bool writeFile(const QString &filePath, const Writer &writer);
};
