// The sheets of a finished job: a picture of the chosen sheet, scaled to fit
// and drawn over a checkerboard so that its transparent pixels show, a
// choice of sheet when there are several, the sheet's name, size and fill,
// and a button that opens it at full size. Sheets are read on another thread
// when first chosen, reduced to a preview, and kept.
#pragma once

#include <QImage>
#include <QLabel>
#include <QSize>
#include <QString>
#include <QStringList>
#include <QWidget>

#include <functional>
#include <optional>
#include <vector>

class QComboBox;
class QPushButton;

namespace vintrix {

// A sheet as read for its preview.
struct SheetPicture {
    QImage preview;   // at most kPreviewSide on a side, transparency kept
    QSize size;       // of the sheet itself
    double fill = 0;  // the share of its pixels that are not transparent
    QString error;
};

inline constexpr int kPreviewSide = 1024;
// Sheets up to this size in memory are decoded whole, as Qt's readers do by
// default; larger PNG sheets are reduced a row at a time, and other formats
// are not shown.
inline constexpr qint64 kMostBytesWhole = qint64{128} << 20;

// Reads `file` into a preview of at most `side` pixels on its longer side;
// any thread. An 8-bit BMP's colour key, magenta at palette entry 0, counts
// as transparent.
// A large sheet's reading stops, with the error "stopped", once `stopAsked`
// returns true.
using StopAsked = std::function<bool()>;
SheetPicture ReadSheet(const QString& file, int side = kPreviewSide, qint64 mostBytesWhole = kMostBytesWhole,
    const StopAsked& stopAsked = {});

// The picture itself: scaled to the space it has, pixels kept sharp when it
// is enlarged; a click asks to open the sheet.
class SheetPicturePane : public QLabel {
    Q_OBJECT

public:
    explicit SheetPicturePane(QWidget* parent = nullptr);
    void setPicture(const QImage& image);
    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;

signals:
    void clicked();

protected:
    void mouseReleaseEvent(QMouseEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

private:
    void redraw();

    QImage image_;
};

class SheetPreview : public QWidget {
    Q_OBJECT

public:
    explicit SheetPreview(QWidget* parent = nullptr);
    ~SheetPreview() override;

    // `files` are the sheets' full paths, in order.
    void showSheets(const QStringList& files);
    int current() const { return current_; }

signals:
    void openRequested(const QString& file);

private:
    void choose(int index);
    void read(int index);
    void showChosen();

    QStringList files_;
    std::vector<std::optional<SheetPicture>> pictures_;
    std::vector<bool> reading_;
    int current_ = -1;

    QComboBox* chooser_;
    SheetPicturePane* picture_;
    QLabel* caption_;
    QPushButton* open_;
};

}  // namespace vintrix
