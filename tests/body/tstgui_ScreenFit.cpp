#include "body/Body.h"

#include <QGuiApplication>
#include <QScreen>
#include <QScrollArea>
#include <QScrollBar>
#include <QTest>

// The main window on a common 1920 x 1080 screen (the offscreen platform is given
// one, see tests/CMakeLists.txt): it fits, and its control column shows every
// row whole, without scrolling sideways. Controls added to a row have pushed the
// window past the screen's edge before.
class TestScreenFit : public QObject
{
    Q_OBJECT
private slots:
    void windowAndControlsFit();
};

void TestScreenFit::windowAndControlsFit()
{
    const QScreen *screen = QGuiApplication::primaryScreen();
    if (!screen || screen->availableSize() != QSize(1920, 1080))
        QSKIP("needs the 1920 x 1080 offscreen screen of the test set-up");
    Body body;
    body.show();
    QVERIFY(QTest::qWaitForWindowExposed(&body));
    QVERIFY2(body.minimumSizeHint().width() <= 1920,
             qPrintable(QString::number(body.minimumSizeHint().width())));
    QVERIFY(body.width() <= 1920);
    auto *column = body.findChild<QScrollArea *>(QStringLiteral("ControlScroll"));
    QVERIFY(column);
    QCOMPARE(column->horizontalScrollBar()->maximum(), 0);
    QVERIFY(column->widget()->width() <= column->viewport()->width());
}

QTEST_MAIN(TestScreenFit)
#include "tstgui_ScreenFit.moc"
