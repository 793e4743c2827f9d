#pragma once

#include <QFileInfoList>
#include <QFrame>
#include <QList>
#include <QString>
#include <QStringList>

#include <functional>
#include <memory>

class CtFileSet;
class SelectDir;
namespace Ui {
class SelectDataDir;
}

// Turns a data directory into a numbered list of sets, one per X-ray energy of a
// CT-XAFS measurement. With "KVN Std." on, the directory holds the files of all
// energies named by the KVN rule and each run of files with one stem is a set;
// with it off, each sub-directory is a set.
class SelectDataDir : public QFrame
{
    Q_OBJECT

public:
    explicit SelectDataDir(QWidget *parent = nullptr);
    ~SelectDataDir() override;

    // Owned by the panel; replaced only by a file-set scan.
    QList<CtFileSet *> sets;

    // The same as next(), telling whether it moved.
    bool advance();
    // eV of the current set; in sub-directory mode the number read from the current
    // sub-directory's name with its unit. 0 when no set is current.
    double currentEnergy() const;
    // The energy text of the current set or sub-directory; "" when there is none.
    QString currentEnergyText() const;

    // One entry of the list as a run reports it.
    struct SetSummary
    {
        int number;     // 0-based, in the list of the whole directory
        QString tag;    // the energy text
        QString sample; // of the set's file names; "" for a sub-directory
        double energy;  // eV
        int fileCount;
        QString scanFile; // the HDF5 file that is the whole set; "" for other sets
    };
    QList<SetSummary> summaries() const;

    // From now on every scan keeps set `index` (0-based) only, so a sequential run
    // computes that set alone; -1 keeps all. A scan without such a set leaves the
    // list empty and reports onlySetMissing().
    void setOnlySet(int index);
    // Sets of the whole directory with this energy text, counted before setOnlySet()
    // kept one of them: the name a set saves under must not depend on running alone.
    int setsWithEnergyText(const QString &energyText) const;

    // With "KVN Std." on, each HDF5 file (.h5, .hdf5, .nxs) matching the pattern is a
    // set of its own, of the energy this reads from it (eV; 0: none, the name's).
    void setScanEnergyReader(std::function<double(const QString &file)> reader)
    {
        scanEnergy = std::move(reader);
    }

    bool isKVNStandard() const;
    int currentIndex() const;
    int count() const;
    QString pattern() const;
    void setPattern(const QString &pattern);
    QString dirName() const;
    SelectDir *dirPicker() const;

signals:
    void newSets(int items);
    void selected(QString dir, QStringList patterns);
    void selectedFileInfoList(QFileInfoList fileInofs);
    void noMoreSets();
    void onlySetMissing(int index, int count, QString dir);

private slots:
    void aDirSelected(QString dir);
    void changedKVNStd();
    void setSubDirs(QString dir);
    void setFileSets(QString dir);

public slots:
    void setIsKVNStandard(bool f);
    void set();
    void next();
    void setFirstSet(int firstIdx);
    void setNextSet(int lastIdx);

public:
    // Chooses dir as the dialog does: the dialog moves there, the list is rebuilt in
    // the current mode, newSets() is reported and the picker shows dir.
    void loadDir(const QString &dir);

private:
    void fitSetList();
    void explainNoSet(const QString &dir) const;
    void deleteSets();
    QString currentSubDirName() const;
    QString subDirNameAt(int idx) const;
    double energyAt(int idx) const;
    QString energyTextAt(int idx) const;
    void keepOnlySet(const QString &dir);

    std::unique_ptr<Ui::SelectDataDir> ui;
    // Which kind of scan filled the list, so that set() never resolves an entry
    // against the results of the other kind.
    bool listFromSubDirs = false;
    QStringList subDirNames;
    int onlySet = -1;
    QStringList scannedEnergyTexts;
    // Set by a scan that rebuilt the list; a file-set scan that finds nothing keeps it.
    bool listRebuilt = false;
    std::function<double(const QString &file)> scanEnergy;
};
