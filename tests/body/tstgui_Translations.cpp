// Texts whose code moved out of the main window keep their Japanese: the
// catalogue is loaded as the program loads it, and the window built with it.

#include "body/Body.h"
#include "select/SelectDataFiles.h"

#include <QCoreApplication>
#include <QLabel>
#include <QProgressBar>
#include <QTest>
#include <QTranslator>

class TestTranslations : public QObject
{
    Q_OBJECT
private slots:
    void movedTextsKeepTheirTranslation();
};

void TestTranslations::movedTextsKeepTheirTranslation()
{
    QTranslator japanese;
    QVERIFY(japanese.load(QStringLiteral(ORVO2_BINARY_DIR "/orvo2_ja_JP.qm")));
    QCoreApplication::installTranslator(&japanese);
    Body body;
    const auto *progress = body.findChild<QProgressBar *>(QStringLiteral("CalcProgress"));
    const auto *files = body.findChild<SelectDataFiles *>(QStringLiteral("CTFiles"));
    const auto *title = files ? files->findChild<QLabel *>(QStringLiteral("Title")) : nullptr;
    QCoreApplication::removeTranslator(&japanese);
    QVERIFY(progress && title);
    QCOMPARE(progress->format(), QStringLiteral("%v / %m スライス"));
    QCOMPARE(title->text(), QStringLiteral("投影像"));
}

QTEST_MAIN(TestTranslations)
#include "tstgui_Translations.moc"
