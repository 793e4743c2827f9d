#pragma once

#include <QFrame>
#include <QString>

#include <memory>

class QFileDialog;
namespace Ui {
class SelectDir;
}

// Picks a directory through a modeless dialog that belongs to the panel. Receivers of
// aDirSelected() run before the line shows the new directory.
class SelectDir : public QFrame
{
    Q_OBJECT

public:
    explicit SelectDir(QWidget *parent = nullptr);
    ~SelectDir() override;

    QString dirName() const;
    void setButtonText(const QString &text);
    QFileDialog *dialog() const { return fileDialog.get(); }
    // Takes dir as if it was chosen in the dialog, which moves there.
    void selectDir(const QString &dir);

signals:
    void aDirSelected(QString dir);

public slots:
    void setDirName(QString dir);

private:
    std::unique_ptr<Ui::SelectDir> ui;
    std::unique_ptr<QFileDialog> fileDialog;
};
