#pragma once

#include <QFrame>
#include <QString>

#include <memory>

class QFileDialog;
class QLabel;
namespace Ui {
class SelectAFile;
}

// A one-row strip that picks one file: an existing file to read (open mode, 0) or a
// path to write to (save mode, 1), in which case the line shows the folder, `Name`
// the base name and `AddTag` a tag the owner adds to the names of saved files.
// The file dialog is modeless, has no parent and belongs to the panel.
class SelectAFile : public QFrame
{
    Q_OBJECT

public:
    enum Mode { OpenMode = 0, SaveMode = 1 };

    explicit SelectAFile(QWidget *parent = nullptr);
    ~SelectAFile() override;

    int mode = OpenMode;

    void setMode(int m);
    // In save mode the folder is created, with all missing parents, before it is shown.
    void setPath(const QString &path);

    QString path() const;
    QString name() const;
    QString addTag() const;
    void setName(const QString &name);
    void setAddTag(const QString &tag);
    // Shows or hides the `Name` and `AddTag` fields (hidden at construction).
    void showNameAndTag(bool show);
    QFileDialog *dialog() const { return fileDialog.get(); }
    // A line under the row with the name the next saved file gets ("→ folder/file");
    // an empty text hides it. The tooltip carries the whole path.
    void setNextFile(const QString &shown, const QString &whole);
    QString nextFileText() const;

signals:
    // The folder, the base name or the tag changed.
    void namesChanged();
    void fileSelected(QString fname);
    void clear();

public slots:
    void setStat(bool f);
    void fileSelected0(QString fname);
    void clear0();

protected:
    // For derived panels that add a frame of their own to the row.
    void addToRow(QWidget *widget, int column);

private:
    std::unique_ptr<Ui::SelectAFile> ui;
    std::unique_ptr<QFileDialog> fileDialog;
    QLabel *nextFile = nullptr;
};
