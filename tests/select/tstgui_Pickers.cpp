#include "DemoGenerator.h"
#include "ItexWriter.h"
#include "config/DataRoot.h"
#include "disp/ImgDispWPV.h"
#include "imgdata/ImgData.h"
#include "select/SelectAFile.h"
#include "select/SelectAImgFile.h"
#include "select/SelectDir.h"
#include "support/TestSupport.h"

#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QLineEdit>
#include <QPushButton>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QtTest>

#include <memory>
#include <vector>

namespace {

const QString loadedStyle = QStringLiteral("background-color: rgb(211, 255, 241);");
const QString failedStyle = QStringLiteral("background-color: rgb(255, 192, 192);");

template<typename T>
T *child(const QObject &panel, const char *name)
{
    auto *widget = panel.findChild<T *>(QLatin1String(name));
    if (!widget)
        qFatal("missing widget %s", name);
    return widget;
}

QString pathLine(const SelectAFile &picker)
{
    return child<QLineEdit>(picker, "FilePath")->text();
}

QString pathStyle(const SelectAFile &picker)
{
    return child<QLineEdit>(picker, "FilePath")->styleSheet();
}

// A 4 x 3 image whose pixel (x, y) holds 100 + 10 y + x.
QString writeImage(const QString &dir, const QString &name)
{
    std::vector<quint16> pixels;
    for (int y = 0; y < 3; ++y)
        for (int x = 0; x < 4; ++x)
            pixels.push_back(static_cast<quint16>(100 + 10 * y + x));
    const QString path = QDir(dir).filePath(name);
    if (!ItexWriter::write(path, 4, 3, pixels))
        return QString();
    return path;
}

QString writeBytes(const QString &dir, const QString &name, const QByteArray &bytes)
{
    const QString path = QDir(dir).filePath(name);
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly))
        return QString();
    file.write(bytes);
    return path;
}

} // namespace

class TestPickers : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void fileFormAndDialog();
    void dialogModes();
    void saveModeCreatesFolders_data();
    void saveModeCreatesFolders();
    void openModeKeepsThePath();
    void clearAndStatus();
    void dirPickerOrder();
    void imageLoadsGreen();
    void imageFailuresRed_data();
    void imageFailuresRed();
    void valueUnderTheMouse_data();
    void valueUnderTheMouse();
    void clearResetsImageAndTime();
    void demoImagesLoad();
    void displayPlacedElsewhere();
};

void TestPickers::init()
{
    QLocale::setDefault(QLocale::c());
}

void TestPickers::fileFormAndDialog()
{
    QTemporaryDir root;
    DataRoot::set(root.path());
    SelectAFile picker;
    QCOMPARE(picker.objectName(), QStringLiteral("SelectAFile"));
    QCOMPARE(child<QPushButton>(picker, "Select")->text(), QStringLiteral("Select"));
    QCOMPARE(child<QPushButton>(picker, "Clear")->text(), QStringLiteral("Clear"));
    QCOMPARE(pathStyle(picker), QStringLiteral("background-color: rgb(255, 255, 233);"));
    QVERIFY(child<QLineEdit>(picker, "Name")->isHidden());
    QVERIFY(child<QLineEdit>(picker, "AddTag")->isHidden());
    QCOMPARE(picker.mode, 0);

    QFileDialog *dialog = picker.dialog();
    QVERIFY(dialog->parent() == nullptr);
    QVERIFY(!dialog->isVisible());
    QCOMPARE(dialog->directory().absolutePath(), QDir(root.path()).absolutePath());

    picker.showNameAndTag(true);
    QVERIFY(!child<QLineEdit>(picker, "Name")->isHidden());
    QVERIFY(!child<QLineEdit>(picker, "AddTag")->isHidden());

    SelectDir dirPicker;
    QCOMPARE(dirPicker.objectName(), QStringLiteral("SelectDir"));
    QCOMPARE(child<QPushButton>(dirPicker, "Select")->text(), QStringLiteral("Sel. Dir"));
    QVERIFY(child<QLineEdit>(dirPicker, "SelectedDir")->isReadOnly());
    QCOMPARE(dirPicker.dialog()->fileMode(), QFileDialog::Directory);
    QCOMPARE(dirPicker.dialog()->nameFilters(), QStringList{"(*)"});
    QCOMPARE(dirPicker.dialog()->directory().absolutePath(), QDir(root.path()).absolutePath());
    QVERIFY(dirPicker.dialog()->parent() == nullptr);
}

void TestPickers::dialogModes()
{
    SelectAFile picker;
    QFileDialog *dialog = picker.dialog();
    QCOMPARE(dialog->acceptMode(), QFileDialog::AcceptOpen);
    QCOMPARE(dialog->fileMode(), QFileDialog::ExistingFile);
    QCOMPARE(dialog->nameFilters(),
             (QStringList{"Img file (*.img)", "Tiff file (*.tif *.tiff)", "Any file (* *.*)"}));

    picker.setMode(SelectAFile::SaveMode);
    QCOMPARE(picker.mode, 1);
    QCOMPARE(dialog->acceptMode(), QFileDialog::AcceptSave);
    QCOMPARE(dialog->fileMode(), QFileDialog::AnyFile);
    QCOMPARE(dialog->nameFilters(), QStringList{"Any file (* *.*)"});

    // Another value is only stored.
    picker.setMode(7);
    QCOMPARE(picker.mode, 7);
    QCOMPARE(dialog->acceptMode(), QFileDialog::AcceptSave);
}

void TestPickers::saveModeCreatesFolders_data()
{
    QTest::addColumn<QString>("relative");
    QTest::addColumn<QString>("folder");
    QTest::addColumn<QString>("name");

    QTest::newRow("missing parents") << "a/b/c/slice.dat"
                                     << "a/b/c"
                                     << "slice";
    QTest::newRow("several dots keep the part before the first") << "out/res.v1.tar.gz"
                                                                 << "out"
                                                                 << "res";
    QTest::newRow("existing folder") << "data.txt"
                                     << ""
                                     << "data";
}

void TestPickers::saveModeCreatesFolders()
{
    QFETCH(QString, relative);
    QFETCH(QString, folder);
    QFETCH(QString, name);

    QTemporaryDir root;
    SelectAFile picker;
    picker.setMode(SelectAFile::SaveMode);
    QSignalSpy selected(&picker, &SelectAFile::fileSelected);
    const QString fname = QDir(root.path()).filePath(relative);
    // What the dialog reports when the user accepts it.
    emit picker.dialog()->fileSelected(fname);

    const QString expectedFolder = QDir(QDir(root.path()).filePath(folder)).absolutePath();
    QVERIFY(QFileInfo(expectedFolder).isDir());
    QVERIFY(!QFileInfo::exists(fname));
    QCOMPARE(pathLine(picker), expectedFolder);
    QCOMPARE(picker.name(), name);
    QCOMPARE(selected.count(), 1);
    QCOMPARE(selected.at(0).at(0).toString(), fname);
}

void TestPickers::openModeKeepsThePath()
{
    QTemporaryDir root;
    SelectAFile picker;
    const QString fname = QDir(root.path()).filePath(QStringLiteral("missing/x.1.img"));
    picker.fileSelected0(fname);
    QCOMPARE(pathLine(picker), fname);
    QCOMPARE(picker.name(), QStringLiteral("x"));
    QVERIFY(!QFileInfo::exists(QDir(root.path()).filePath(QStringLiteral("missing"))));

    // A folder that can't be made (its parent is a file) is shown all the same.
    picker.setMode(SelectAFile::SaveMode);
    const QString file = writeBytes(root.path(), QStringLiteral("plain"), "x");
    picker.setPath(file + QStringLiteral("/sub"));
    QCOMPARE(pathLine(picker), file + QStringLiteral("/sub"));
}

void TestPickers::clearAndStatus()
{
    QTemporaryDir root;
    SelectAFile picker;
    picker.setMode(SelectAFile::SaveMode);
    picker.fileSelected0(QDir(root.path()).filePath(QStringLiteral("s/n.dat")));
    picker.setStat(true);
    QCOMPARE(pathStyle(picker), loadedStyle);
    picker.setStat(false);
    QCOMPARE(pathStyle(picker), failedStyle);

    QSignalSpy cleared(&picker, &SelectAFile::clear);
    child<QPushButton>(picker, "Clear")->click();
    QCOMPARE(cleared.count(), 1);
    QCOMPARE(pathLine(picker), QString());
    QCOMPARE(picker.name(), QString());
}

void TestPickers::dirPickerOrder()
{
    QTemporaryDir root;
    SelectDir picker;
    picker.setDirName(QStringLiteral("/before"));
    QStringList seen;
    connect(&picker, &SelectDir::aDirSelected, this,
            [&](const QString &dir) { seen << dir << picker.dirName(); });
    emit picker.dialog()->fileSelected(root.path());
    // Receivers run while the line still shows the previous directory.
    QCOMPARE(seen, (QStringList{root.path(), "/before"}));
    QCOMPARE(picker.dirName(), root.path());

    seen.clear();
    picker.selectDir(QStringLiteral("/"));
    QCOMPARE(seen, (QStringList{"/", root.path()}));
    QCOMPARE(picker.dialog()->directory().absolutePath(), QStringLiteral("/"));
}

void TestPickers::imageLoadsGreen()
{
    QTemporaryDir root;
    const QString path = writeImage(root.path(), QStringLiteral("i0-7112_0eV-00000.img"));
    QVERIFY(!path.isEmpty());
    SelectAImgFile picker;
    QCOMPARE(picker.mode, 0);
    QCOMPARE(picker.image(), nullptr);
    QCOMPARE(*picker.imageSlot(), nullptr);

    TestSupport::MessageLog log;
    picker.fileSelected0(path);
    QVERIFY(log.messages().join('\n').contains(QStringLiteral("loading")));
    QCOMPARE(pathStyle(picker), loadedStyle);
    QVERIFY(picker.image() != nullptr);
    QCOMPARE(*picker.imageSlot(), picker.image());
    QCOMPARE(picker.image()->width, 4);
    QCOMPARE(picker.image()->height, 3);
    QVERIFY(picker.display()->isVisible());
    QCOMPARE(picker.display()->image.size(), QSize(4, 3));
    QCOMPARE(picker.display()->image.format(), QImage::Format_Grayscale8);
    picker.display()->close();
}

void TestPickers::imageFailuresRed_data()
{
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<QString>("name");

    QTest::newRow("neither ITEX nor TIFF") << QByteArray("just text") << "notes.img";
    QTest::newRow("ITEX header cut short") << QByteArray("IM\x05") << "short.img";
    QTest::newRow("missing file") << QByteArray() << "";
}

void TestPickers::imageFailuresRed()
{
    QFETCH(QByteArray, bytes);
    QFETCH(QString, name);

    QTemporaryDir root;
    const QString good = writeImage(root.path(), QStringLiteral("good.img"));
    const QString bad = name.isEmpty() ? QDir(root.path()).filePath(QStringLiteral("none.img"))
                                       : writeBytes(root.path(), name, bytes);
    SelectAImgFile picker;
    picker.fileSelected0(good);
    const ImgData *before = picker.image();
    QVERIFY(before != nullptr);

    picker.fileSelected0(bad);
    QCOMPARE(pathStyle(picker), failedStyle);
    QCOMPARE(pathLine(picker), bad);
    // The image of the file before is dropped: keeping it would reconstruct with
    // another file's image (another energy's I0) under this file's name.
    QCOMPARE(picker.image(), nullptr);
    QCOMPARE(*picker.imageSlot(), nullptr);
    QVERIFY(picker.loadFailed());
    QCOMPARE(picker.failedFile(), bad);
    // A good file or a clear ends the failed state.
    picker.fileSelected0(good);
    QVERIFY(picker.image() != nullptr);
    QVERIFY(!picker.loadFailed());
    picker.fileSelected0(bad);
    picker.clear0();
    QVERIFY(!picker.loadFailed());

    SelectAImgFile empty;
    empty.fileSelected0(bad);
    QCOMPARE(pathStyle(empty), failedStyle);
    QCOMPARE(empty.image(), nullptr);
    QVERIFY(!empty.display()->isVisible());
    picker.display()->close();
}

void TestPickers::valueUnderTheMouse_data()
{
    QTest::addColumn<double>("x");
    QTest::addColumn<double>("y");
    QTest::addColumn<double>("value");

    QTest::newRow("inside") << 1.7 << 2.2 << 121.0;
    QTest::newRow("last pixel") << 3.99 << 2.99 << 123.0;
    QTest::newRow("-0.5 truncates to pixel 0") << -0.5 << -0.5 << 100.0;
    QTest::newRow("left of the image") << -1.0 << 0.0 << 0.0;
    QTest::newRow("right of the image") << 4.0 << 0.0 << 0.0;
    QTest::newRow("below the image") << 0.0 << 3.0 << 0.0;
    QTest::newRow("far beyond the int range") << 1e300 << -1e300 << 0.0;
}

void TestPickers::valueUnderTheMouse()
{
    QFETCH(double, x);
    QFETCH(double, y);
    QFETCH(double, value);

    QTemporaryDir root;
    SelectAImgFile picker;
    ImgDispWPV *display = picker.display();
    display->setVal(-7.0);
    emit display->newPosInvY(1.0, 1.0);
    QCOMPARE(display->valText(), QStringLiteral("-7")); // no image: nothing happens

    picker.fileSelected0(writeImage(root.path(), QStringLiteral("v.img")));
    emit display->newPosInvY(x, y);
    QCOMPARE(display->valText(), QString::number(value, 'g', 6));
    display->close();
}

void TestPickers::clearResetsImageAndTime()
{
    QTemporaryDir root;
    SelectAImgFile picker;
    auto *expTime = child<QLineEdit>(picker, "ExpTimeLE");
    QCOMPARE(expTime->text(), QStringLiteral("0.05"));
    QCOMPARE(picker.defaultExpTime, 0.05);
    QCOMPARE(child<QPushButton>(picker, "ShowImg")->text(), QStringLiteral("Show Img"));
    QCOMPARE(child<QWidget>(picker, "SelectAImgFileBase")->parentWidget(), &picker);

    picker.fileSelected0(writeImage(root.path(), QStringLiteral("c.img")));
    picker.setExpTime(2.123456789);
    QCOMPARE(expTime->text(), QStringLiteral("2.12346"));
    QCOMPARE(picker.expTime(), 2.12346);

    picker.clear0();
    QCOMPARE(picker.image(), nullptr);
    QCOMPARE(*picker.imageSlot(), nullptr);
    QCOMPARE(pathLine(picker), QString());
    QCOMPARE(expTime->text(), QStringLiteral("0.05"));

    // With nothing loaded the button has nothing to show.
    picker.display()->close();
    child<QPushButton>(picker, "ShowImg")->click();
    QVERIFY(!picker.display()->isVisible());
}

void TestPickers::demoImagesLoad()
{
    QTemporaryDir out;
    DemoSettings settings;
    settings.outDir = out.path();
    settings.width = 16;
    settings.height = 2;
    settings.projections = 2;
    settings.energies = 1;
    settings.noise = false;
    DemoGenerator generator(settings);
    QVERIFY(generator.generate());
    const QString text = DemoGenerator::energyText(generator.energyAt(0));

    SelectAImgFile i0;
    SelectAImgFile bg;
    i0.fileSelected0(
        QDir(out.path()).filePath(QStringLiteral("i0/") + DemoGenerator::i0FileName(text)));
    bg.fileSelected0(
        QDir(out.path()).filePath(QStringLiteral("bg/") + DemoGenerator::bgFileName()));
    for (const SelectAImgFile *picker : {&i0, &bg}) {
        QCOMPARE(pathStyle(*picker), loadedStyle);
        QVERIFY(picker->image() != nullptr);
        QCOMPARE(picker->image()->width, settings.width);
        QCOMPARE(picker->image()->height, settings.height);
        picker->display()->close();
    }

    // Closed by the user, the window comes back with "Show Img".
    child<QPushButton>(i0, "ShowImg")->click();
    QVERIFY(i0.display()->isVisible());
    i0.display()->close();
}

void TestPickers::displayPlacedElsewhere()
{
    QTemporaryDir root;
    const QString path = writeImage(root.path(), QStringLiteral("d.img"));
    // The main window puts the display into a dock of its own; whichever of dock and
    // panel goes first, the display is deleted once.
    {
        auto picker = std::make_unique<SelectAImgFile>();
        auto dock = std::make_unique<QWidget>();
        picker->display()->setParent(dock.get());
        dock.reset();
        QCOMPARE(picker->display(), nullptr);
        picker->fileSelected0(path);
        QCOMPARE(pathStyle(*picker), loadedStyle);
        emit picker->dialog()->fileSelected(path);
    }
    {
        auto dock = std::make_unique<QWidget>();
        auto picker = std::make_unique<SelectAImgFile>();
        picker->display()->setParent(dock.get());
        picker->fileSelected0(path);
        QVERIFY(!dock->findChildren<ImgDispWPV *>().isEmpty());
        picker.reset();
        QVERIFY(dock->findChildren<ImgDispWPV *>().isEmpty());
    }
}

QTEST_MAIN(TestPickers)
#include "tstgui_Pickers.moc"
