#pragma once

#include <QObject>
#include <QString>

#include <memory>
#include <vector>

class ImgData;
class QImage;
struct GreyScale;

// The projection frames of one scan, all of one size, in load order. The I0 and
// BG images belong to their picker panels; the stack only looks through the
// panels' current-image slots so that it always sees the image shown there.
// The stack must not change while reconstructions read it.
class ImgDatas : public QObject
{
    Q_OBJECT

public:
    explicit ImgDatas(QObject *parent = nullptr);
    ~ImgDatas() override;

    bool addFile(const QString &fileName);
    // A frame read already (from an HDF5 scan), held to the stack's size rule
    // like a file; false, with the size message, when it does not match.
    bool addFrame(std::unique_ptr<ImgData> frame);
    bool genImage(int index, QImage *image, GreyScale *scale, bool scaleFixed = false);

    int count() const { return static_cast<int>(imgs.size()); }
    // Frame i, or nullptr outside 0 .. count() - 1.
    const ImgData *frame(int i) const;
    int width() const { return w; }
    int height() const { return h; }

    // The panels' slots; set once by the owner. The slot may hold nullptr.
    void setI0Slot(ImgData *const *slot) { i0 = slot; }
    void setBgSlot(ImgData *const *slot) { bg = slot; }
    // The I0 / BG image when one is present (slot set, image held, image opened).
    const ImgData *i0Image() const;
    const ImgData *bgImage() const;

    // Bytes of the frames mapped from their files.
    qint64 mappedBytes() const;
    // How the frames mapped from their files are read. By default a page fault
    // reads the device's read-ahead window around the page (several MiB, a whole
    // 2048 x 2048 frame on some disks), which loads a frame once for all its rows.
    // A stack larger than `memory` cannot stay in the page cache: the pages read
    // around one slice's rows are dropped before the next slice needs them, and
    // every slice reads the stack again. Such a stack is told to read only the
    // pages asked for. True when it is.
    bool adviseAccess(qint64 memory);

    // Why the stack is not the whole scan (a load stopped by the memory budget);
    // empty when it is. A run on a part of a scan would reconstruct from a shorter
    // arc as if it were the scan, so runs are refused until the stack is cleared.
    QString cutShort() const { return cutShortReason; }
    void setCutShort(const QString &why) { cutShortReason = why; }

public slots:
    void clearImgs();
    void clear();

signals:
    void imageUpdated();

private:
    int w = 0;
    int h = 0;
    QString cutShortReason;
    std::vector<std::unique_ptr<ImgData>> imgs;
    ImgData *const *i0 = nullptr;
    ImgData *const *bg = nullptr;
};
