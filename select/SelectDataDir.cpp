#include "SelectDataDir.h"

#include "ui_SelectDataDir.h"

#include "imgdata/H5Scan.h"
#include "select/CtFileSet.h"
#include "select/SelectDir.h"
#include "sets/Kvn.h"
#include "util/Numbers.h"
#include "util/TextLine.h"

#include <QComboBox>
#include <QDebug>
#include <QDir>
#include <QRegularExpression>

#include <algorithm>

namespace {

// A sub-directory holding one energy is named like the stem of its files,
// "sample-energytext", so its energy text is what follows its last hyphen.
QString subDirEnergyText(const QString &name)
{
    return energyTextOf(name + QLatin1Char('-'));
}

} // namespace

SelectDataDir::SelectDataDir(QWidget *parent)
    : QFrame(parent)
    , ui(std::make_unique<Ui::SelectDataDir>())
{
    ui->setupUi(this);
    ui->SelDir->setButtonText(tr("Sel. Data Dir."));
    ui->SubDirs->setSizeAdjustPolicy(QComboBox::AdjustToMinimumContentsLengthWithIcon);

    connect(ui->SelDir, &SelectDir::aDirSelected, this, &SelectDataDir::aDirSelected);
    connect(ui->isKVNStd_, &QRadioButton::toggled, this, &SelectDataDir::changedKVNStd);
    connect(ui->Set, SIGNAL(clicked()), this, SLOT(set()));
    connect(ui->Next, SIGNAL(clicked()), this, SLOT(next()));
}

SelectDataDir::~SelectDataDir()
{
    deleteSets();
}

void SelectDataDir::deleteSets()
{
    qDeleteAll(sets);
    sets.clear();
}

bool SelectDataDir::isKVNStandard() const
{
    return ui->isKVNStd_->isChecked();
}

int SelectDataDir::currentIndex() const
{
    return ui->SubDirs->currentIndex();
}

int SelectDataDir::count() const
{
    return ui->SubDirs->count();
}

QString SelectDataDir::pattern() const
{
    return ui->Pattern->text();
}

void SelectDataDir::setPattern(const QString &pattern)
{
    ui->Pattern->setText(pattern);
}

QString SelectDataDir::dirName() const
{
    return ui->SelDir->dirName();
}

SelectDir *SelectDataDir::dirPicker() const
{
    return ui->SelDir;
}

void SelectDataDir::loadDir(const QString &dir)
{
    ui->SelDir->selectDir(dir);
}

void SelectDataDir::aDirSelected(QString dir)
{
    listRebuilt = false;
    if (isKVNStandard())
        setFileSets(dir);
    else
        setSubDirs(dir);
    if (listRebuilt || ui->SubDirs->count() == 0) {
        scannedEnergyTexts.clear();
        for (int i = 0; i < ui->SubDirs->count(); ++i)
            scannedEnergyTexts << energyTextAt(i);
    }
    if (onlySet >= 0 && (listRebuilt || ui->SubDirs->count() == 0))
        keepOnlySet(dir);
    fitSetList();
    if (ui->SubDirs->count() == 0 && !dir.isEmpty())
        explainNoSet(dir);
    emit newSets(ui->SubDirs->count());
}

// The two layouts are easy to confuse: a directory of sub-directories read as one of
// files (or the other way round) yields no set and, without this, no reason.
void SelectDataDir::explainNoSet(const QString &dir) const
{
    const QDir top(dir);
    int withImages = 0;
    for (const QString &sub : top.entryList(QDir::Dirs | QDir::NoDotAndDotDot))
        if (!QDir(top.filePath(sub)).entryList({pattern()}, QDir::Files).isEmpty())
            ++withImages;
    if (isKVNStandard())
        qDebug().noquote() << QStringLiteral("no set found in %1 with the file pattern %2; it "
                                             "holds %3 sub-directories with images: for one "
                                             "sub-directory per energy use add_inf_show 0")
                                  .arg(dir, pattern())
                                  .arg(withImages);
    else
        qDebug().noquote() << QStringLiteral("no set found in %1: it holds no sub-directory with "
                                             "files matching %2; for sets of files in one "
                                             "directory use add_inf_show 1")
                                  .arg(dir, pattern());
}

void SelectDataDir::setOnlySet(int index)
{
    onlySet = index;
}

int SelectDataDir::setsWithEnergyText(const QString &energyText) const
{
    return static_cast<int>(scannedEnergyTexts.count(energyText));
}

void SelectDataDir::keepOnlySet(const QString &dir)
{
    const int count = ui->SubDirs->count();
    if (onlySet >= count) {
        deleteSets();
        subDirNames.clear();
        ui->SubDirs->clear();
        // Switching the mode before a directory was chosen scans the current
        // directory: that is no data directory that could lack the set.
        if (!dir.isEmpty())
            emit onlySetMissing(onlySet, count, dir);
        return;
    }
    // The entry keeps its number in the whole list, so the window and the log
    // say which set of the directory this is.
    const QString entry = ui->SubDirs->itemText(onlySet);
    if (listFromSubDirs) {
        subDirNames = QStringList{subDirNames.at(onlySet)};
    } else {
        CtFileSet *kept = sets.takeAt(onlySet);
        deleteSets();
        sets.append(kept);
    }
    ui->SubDirs->clear();
    ui->SubDirs->addItem(entry);
}

QList<SelectDataDir::SetSummary> SelectDataDir::summaries() const
{
    QList<SetSummary> list;
    const int first = onlySet >= 0 ? onlySet : 0;
    for (int i = 0; i < ui->SubDirs->count(); ++i) {
        int files = 0;
        if (listFromSubDirs) {
            const QString base = ui->SelDir->dirName();
            const QString name = subDirNameAt(i);
            const QString dir = base.isEmpty() ? name : base + QDir::separator() + name;
            const QStringList patterns =
                ui->Pattern->text().split(QRegularExpression(QStringLiteral("\\s+")));
            files = QDir(dir).entryList(patterns, QDir::Files | QDir::NoDotAndDotDot).size();
        } else if (i < sets.size()) {
            files = sets.at(i)->files.size();
        }
        const CtFileSet *set = !listFromSubDirs && i < sets.size() ? sets.at(i) : nullptr;
        const QString sample = set ? set->sample : QString();
        const QString scanFile = set && set->scanFile ? set->files.value(0).filePath() : QString();
        list.append({first + i, energyTextAt(i), sample, energyAt(i), files, scanFile});
    }
    return list;
}

// Closed, the list shows the chosen set's number, sample and energy in full; a very
// long directory name is not allowed to widen the whole window, its end is cut.
void SelectDataDir::fitSetList()
{
    constexpr int longestShown = 40;
    qsizetype longest = 0;
    for (int i = 0; i < ui->SubDirs->count(); ++i)
        longest = std::max(longest, ui->SubDirs->itemText(i).size());
    ui->SubDirs->setMinimumContentsLength(int(std::min<qsizetype>(longest, longestShown)));
}

void SelectDataDir::changedKVNStd()
{
    aDirSelected(ui->SelDir->dirName());
}

void SelectDataDir::setSubDirs(QString dir)
{
    subDirNames =
        QDir(dir).entryList({QStringLiteral("*")}, QDir::Dirs | QDir::NoDotAndDotDot, QDir::Name);
    listFromSubDirs = true;
    listRebuilt = true;
    ui->SubDirs->clear();
    for (int i = 0; i < subDirNames.size(); ++i)
        ui->SubDirs->addItem(
            QStringLiteral("%1 : %2").arg(QString::number(i + 1), subDirNames.at(i)));
}

void SelectDataDir::setFileSets(QString dir)
{
    QDir directory(dir);
    // The pattern is one wildcard as a whole here, blanks included.
    directory.setNameFilters({ui->Pattern->text()});
    const QFileInfoList files = directory.entryInfoList(QDir::Files, QDir::Name);
    if (files.isEmpty()) {
        // Entries of a sub-directory scan would resolve to sets of an earlier file-set
        // scan of another directory; only file-set entries are worth keeping.
        if (listFromSubDirs) {
            deleteSets();
            subDirNames.clear();
            ui->SubDirs->clear();
            listFromSubDirs = false;
        }
        return;
    }

    deleteSets();
    listRebuilt = true;
    for (const QFileInfo &info : files) {
        const bool scanFile = H5Scan::isH5Name(info.fileName());
        if (!scanFile && !sets.isEmpty() && sets.last()->belongs(info)) {
            sets.last()->addFile(info);
            continue;
        }
        auto *fileSet = new CtFileSet;
        if (scanFile)
            fileSet->setScanFile(info, scanEnergy ? scanEnergy(info.filePath()) : 0.0);
        else
            fileSet->setFirstFile(info);
        sets.append(fileSet);
    }

    listFromSubDirs = false;
    subDirNames.clear();
    ui->SubDirs->clear();
    for (int i = 0; i < sets.size(); ++i) {
        const CtFileSet *fileSet = sets.at(i);
        // A run of sets of one sample shows the sample's name once.
        const bool sameSample = i > 0 && sets.at(i - 1)->sample == fileSet->sample;
        const QString sample = sameSample ? spaces(fileSet->sample.size()) : fileSet->sample;
        ui->SubDirs->addItem(QStringLiteral("%1 : %2 (%3[%4], %5)")
                                 .arg(QString::number(i + 1), sample,
                                      Numbers::text(fileSet->energy), fileSet->unit,
                                      QString::number(fileSet->files.size())));
    }
}

void SelectDataDir::setIsKVNStandard(bool f)
{
    ui->isKVNStd_->setChecked(f);
}

QString SelectDataDir::currentSubDirName() const
{
    return subDirNameAt(ui->SubDirs->currentIndex());
}

QString SelectDataDir::subDirNameAt(int idx) const
{
    if (!listFromSubDirs || idx < 0 || idx >= subDirNames.size())
        return QString();
    return subDirNames.at(idx);
}

void SelectDataDir::set()
{
    const int idx = ui->SubDirs->currentIndex();
    if (isKVNStandard()) {
        if (listFromSubDirs || idx < 0 || idx >= sets.size()) {
            emit noMoreSets();
            return;
        }
        emit selectedFileInfoList(sets.at(idx)->files);
        return;
    }
    const QString name = currentSubDirName();
    if (name.isEmpty()) {
        emit noMoreSets();
        return;
    }
    // No directory chosen yet means the current directory, as for the scan.
    const QString base = ui->SelDir->dirName();
    const QString dir = base.isEmpty() ? name : base + QDir::separator() + name;
    // Blank-separated patterns; a leading blank gives an empty first pattern, which
    // matches nothing.
    const QStringList patterns =
        ui->Pattern->text().split(QRegularExpression(QStringLiteral("\\s+")));
    emit selected(dir, patterns);
}

void SelectDataDir::next()
{
    advance();
}

bool SelectDataDir::advance()
{
    const int idx = ui->SubDirs->currentIndex();
    if (idx + 1 >= ui->SubDirs->count())
        return false;
    ui->SubDirs->setCurrentIndex(idx + 1);
    return true;
}

void SelectDataDir::setFirstSet(int firstIdx)
{
    ui->SubDirs->setCurrentIndex(firstIdx >= 0 && firstIdx < ui->SubDirs->count() ? firstIdx : -1);
    set();
}

void SelectDataDir::setNextSet(int lastIdx)
{
    const int idx = ui->SubDirs->currentIndex();
    if (idx < lastIdx && idx < ui->SubDirs->count() - 1) {
        ui->SubDirs->setCurrentIndex(idx + 1);
        set();
        return;
    }
    emit noMoreSets();
}

double SelectDataDir::currentEnergy() const
{
    return energyAt(ui->SubDirs->currentIndex());
}

QString SelectDataDir::currentEnergyText() const
{
    return energyTextAt(ui->SubDirs->currentIndex());
}

double SelectDataDir::energyAt(int idx) const
{
    if (!isKVNStandard() || listFromSubDirs) {
        const QString name = subDirNameAt(idx);
        if (name.isEmpty())
            return 0.0;
        const QString text = subDirEnergyText(name);
        return unitFactorOf(text) * energyOf(text);
    }
    if (idx < 0 || idx >= sets.size())
        return 0.0;
    return sets.at(idx)->energyInEv();
}

QString SelectDataDir::energyTextAt(int idx) const
{
    if (!isKVNStandard() || listFromSubDirs) {
        const QString name = subDirNameAt(idx);
        return name.isEmpty() ? QString() : subDirEnergyText(name);
    }
    if (idx < 0 || idx >= sets.size())
        return QString();
    return sets.at(idx)->energyText;
}
