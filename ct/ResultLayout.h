#pragma once

#include <QRegularExpression>
#include <QString>
#include <QStringList>

// The slice number as it appears in file and folder names: at least five digits,
// zero-filled; longer numbers are written in full.
QString sliceNumberText(int sliceNo);

// Where results lie under the folder chosen for them. The saver writes by this rule;
// the next-file preview shows it and the XAFS builder finds results and records by it.
//
//   <name>-<tag>-<slice>.<ext>   one result (".dat", ".tif", ".png")
//   <tag>/ and <slice>/           sub folders of energy and of slice, when chosen;
//                                 with both kinds a result is written into both
//   <name>-<tag>.json             the set's run record, beside its results: in the
//                                 energy folder when there is one, else the base folder
struct ResultLayout
{
    bool inSubFolders = false;
    bool ofEnergy = false;
    bool ofSlice = false;

    // Filled in one step so that a "%" in any part stays as typed.
    static QString fileName(const QString &name, const QString &tag, const QString &slice,
                            const QString &extension);
    // A result name, tag or slice text is one file-name component: no separator
    // ("/" or "\\") and no "..", so that nothing is written outside the chosen folder.
    static bool isNamePartAllowed(const QString &part);
    // The folders one result goes to (none when sub folders are on but neither kind
    // is chosen).
    QStringList foldersOf(const QString &base, const QString &tag, const QString &slice) const;

    static QString recordFileName(const QString &name, const QString &tag);
    // With sub folders of slices only the set has no folder of its own: the record
    // stays in the base folder.
    QString recordFolder(const QString &base, const QString &tag) const;
    QString recordPath(const QString &base, const QString &name, const QString &tag) const;

    // Reading back. The folders results may lie in: the base folder, or every sub
    // folder of it but the `skipped` ones (the tags are not known before reading).
    QStringList foldersToSearch(const QString &base, const QStringList &skipped) const;
    // "<name>-*.<ext>", for listing a folder.
    static QString fileFilter(const QString &name, const QString &extension);
    // Matches a result file name of `name`; captures the tag (1) and the slice number
    // (2). The tag may itself hold hyphens, the slice number may not.
    static QRegularExpression filePattern(const QString &name, const QString &extension);
};
