#pragma once

#include "select/SelectAFile.h"

#include <QPointer>

#include <functional>
#include <memory>

class ImgData;
class ImgDispWPV;
namespace Ui {
class SelectAImgFileBase;
}

// An open-mode file picker that reads the chosen image at once (I0 or BG image),
// shows it in a display window of its own with a position and value read-out, colours
// the path line green or red by the outcome and holds an exposure time.
class SelectAImgFile : public SelectAFile
{
    Q_OBJECT

public:
    explicit SelectAImgFile(QWidget *parent = nullptr);
    ~SelectAImgFile() override;

    // The loaded image, null when none; it stays owned by the panel.
    ImgData *image() const { return img.get(); }
    // Where the image stack looks for the current image; valid as long as the panel.
    ImgData *const *imageSlot() const { return &imgRaw; }
    // The display window; its owner may place it into another widget, which then
    // owns it. Without such a parent it is deleted with the panel.
    ImgDispWPV *display() const;
    double expTime() const;
    // True after a load that failed, until the next successful load or a clear:
    // the panel then holds no image, and whoever needs one must not go on.
    bool loadFailed() const { return failed; }
    QString failedFile() const { return failedName; }
    // Holds an image read elsewhere (the flats or darks of an HDF5 scan, reduced
    // to one image) as if it were loaded from a file; none or one not read counts
    // as a failed load.
    void takeImage(std::unique_ptr<ImgData> image);

    // Reconstructions read the held image from other threads. The owner may hold
    // back a change (a new file or a clear) while they run: the guard gets the
    // change and returns true when it has kept it to run later.
    using ChangeGuard = std::function<bool(std::function<void()> change)>;
    void setChangeGuard(ChangeGuard guard) { changeGuard = std::move(guard); }

    double defaultExpTime = 0.05;

signals:
    // "Show Img" was pressed: the owner brings the picture to the front.
    void imageShown();

public slots:
    void setExpTime(double time);
    // Shows the display window again after the user closed it.
    void showImage();

private slots:
    void noticedNewPos(double x, double y);
    void clear();
    void loadImage(const QString &fname);
    // Draws the image through the display's colour bar; unless keepRange is set (or
    // the bar is fixed) the bar first takes the image's own range.
    void renderImage(bool keepRange = true);

private:
    void setImage(std::unique_ptr<ImgData> image);
    void dropImage(const QString &fname, const QString &reason);

    std::unique_ptr<Ui::SelectAImgFileBase> base;
    std::unique_ptr<ImgData> img;
    // Mirror of img.get() so that others can hold a stable pointer to the slot.
    ImgData *imgRaw = nullptr;
    QPointer<ImgDispWPV> disp;
    ChangeGuard changeGuard;
    bool failed = false;
    QString failedName;
};
