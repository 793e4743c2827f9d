#pragma once

#include <QFileInfoList>
#include <QFrame>
#include <QString>
#include <QStringList>

#include <memory>

class QButtonGroup;
class QFileDialog;
namespace Ui {
class SelectDataFiles;
}

// Chooses a list of image files to load, from its dialog, from a directory with file
// patterns or from a list of file infos, and shows the files the owner reports as
// loaded. It reads no image itself: filesSelected() goes to the owner, which loads
// and calls addFileName() for each file that loaded.
class SelectDataFiles : public QFrame
{
    Q_OBJECT

public:
    explicit SelectDataFiles(QWidget *parent = nullptr);
    ~SelectDataFiles() override;

    void addFileName(QString name);
    void selectDir(QString dir, QStringList patterns);
    void loadDir(QString dir, QStringList patterns);
    void loadFileInfoList(QFileInfoList list);
    int multiTimes() const;
    void hideLoadOptions(bool f);
    // Checks "New" (true) or "Add" (false).
    void setLoadNew(bool f);
    // The "Multi." box and the repeat count.
    void setMulti(bool f, int times);

    void setTitle(const QString &title);
    void setSelectButtonText(const QString &text);
    // The names in the list of loaded files, in order.
    QStringList fileNames() const;
    QString fileName(int idx) const;
    int count() const;
    int currentIndex() const;
    bool keepConditions() const;
    bool loadsNewFiles() const;
    QFileDialog *dialog() const { return fileDialog.get(); }

signals:
    void currentIndexChanged(int idx);
    void filesSelected(QStringList files, bool newFile);
    void filesCleared();

public slots:
    void clearFiles();
    void prev();
    void next();
    void select(int idx);
    void setExpTime(double time);
    double expTime();

private slots:
    void filesChosen(QStringList files);

private:
    void showCount();

    std::unique_ptr<Ui::SelectDataFiles> ui;
    std::unique_ptr<QFileDialog> fileDialog;
    QButtonGroup *newOrAdd = nullptr;
};
