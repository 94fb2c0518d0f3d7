#include "SheetPreview.h"

#include <QComboBox>
#include <QFile>
#include <QFileInfo>
#include <QFutureWatcher>
#include <QHBoxLayout>
#include <QImageReader>
#include <QMouseEvent>
#include <QPainter>
#include <QPromise>
#include <QPushButton>
#include <QThreadPool>
#include <QVBoxLayout>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>
#include <vector>

#include <png.h>

namespace vintrix {

namespace {

constexpr int kCheckerSquare = 8;
constexpr int kRowsBetweenStopChecks = 64;
constexpr QRgb kColourKey = 0xffff00ff;

QSize Fitted(QSize size, int side)
{
    return size.width() <= side && size.height() <= side ? size : size.scaled(side, side, Qt::KeepAspectRatio);
}

double Fill(const QImage& image)
{
    qint64 used = 0;
    for (int y = 0; y < image.height(); ++y) {
        const auto* row = reinterpret_cast<const QRgb*>(image.constScanLine(y));
        for (int x = 0; x < image.width(); ++x)
            used += qAlpha(row[x]) != 0;
    }
    return image.isNull() ? 0 : static_cast<double>(used) / (static_cast<double>(image.width()) * image.height());
}

// A sheet small enough to decode whole, through Qt's readers.
SheetPicture ReadWhole(QImageReader& reader, int side)
{
    SheetPicture picture;
    picture.size = reader.size();
    QImage image = reader.read();
    if (image.isNull()) {
        picture.error = reader.errorString();
        return picture;
    }
    if (image.format() == QImage::Format_Indexed8 && image.colorCount() > 0 && image.color(0) == kColourKey)
        image.setColor(0, qRgba(0, 0, 0, 0));
    image = image.convertToFormat(QImage::Format_ARGB32);
    picture.size = image.size();
    picture.fill = Fill(image);
    const QSize fitted = Fitted(image.size(), side);
    picture.preview = fitted == image.size() ? std::move(image)
                                             : image.convertToFormat(QImage::Format_ARGB32_Premultiplied)
                                                   .scaled(fitted, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
    return picture;
}

// A PNG too large to hold whole is read a row at a time and reduced as it
// goes: each preview pixel is the average of the sheet's pixels it covers,
// weighted by their alpha so that transparent pixels lend it no colour.
struct Reduction {
    int width = 0, height = 0;
    QImage preview;
    std::vector<std::uint64_t> sums;  // per preview column: r·a, g·a, b·a, a, count
    std::vector<std::size_t> column;  // per sheet column: its first entry in `sums`
    int row = -1;
    qint64 used = 0;

    void start(int sheetWidth, int sheetHeight, QSize fitted)
    {
        width = sheetWidth;
        height = sheetHeight;
        preview = QImage(fitted, QImage::Format_ARGB32_Premultiplied);
        sums.assign(static_cast<std::size_t>(fitted.width()) * 5, 0);
        column.resize(static_cast<std::size_t>(width));
        for (int x = 0; x < width; ++x) {
            column[static_cast<std::size_t>(x)] =
                static_cast<std::size_t>(static_cast<qint64>(x) * fitted.width() / width) * 5;
        }
    }

    void flush()
    {
        if (row < 0)
            return;
        auto* out = reinterpret_cast<QRgb*>(preview.scanLine(row));
        for (int x = 0; x < preview.width(); ++x) {
            const std::uint64_t* s = &sums[static_cast<std::size_t>(x) * 5];
            const std::uint64_t n = std::max<std::uint64_t>(s[4], 1);
            out[x] = qRgba(static_cast<int>(s[0] / 255 / n), static_cast<int>(s[1] / 255 / n),
                static_cast<int>(s[2] / 255 / n), static_cast<int>(s[3] / n));
        }
        std::fill(sums.begin(), sums.end(), 0);
    }

    void add(int y, const png_byte* rgba)
    {
        const int target = static_cast<int>(static_cast<qint64>(y) * preview.height() / height);
        if (target != row) {
            flush();
            row = target;
        }
        for (int x = 0; x < width; ++x) {
            const png_byte* p = rgba + static_cast<std::ptrdiff_t>(x) * 4;
            std::uint64_t* s = &sums[column[static_cast<std::size_t>(x)]];
            s[0] += std::uint64_t{p[0]} * p[3];
            s[1] += std::uint64_t{p[1]} * p[3];
            s[2] += std::uint64_t{p[2]} * p[3];
            s[3] += p[3];
            s[4] += 1;
            used += p[3] != 0;
        }
    }
};

struct PngError {
    char text[256] = "";
};

[[noreturn]] void OnPngError(png_structp png, png_const_charp message)
{
    std::snprintf(static_cast<PngError*>(png_get_error_ptr(png))->text, sizeof PngError::text, "%s", message);
    png_longjmp(png, 1);
}

void OnPngWarning(png_structp, png_const_charp)
{
}

// libpng reports errors by longjmp back here: nothing in this function has a
// destructor; what it fills belongs to the caller.
bool ReducePng(png_structp png, png_infop info, std::FILE* file, int side, const StopAsked& stopAsked,
    Reduction& reduction, std::vector<png_byte>& row)
{
    if (setjmp(png_jmpbuf(png)))
        return false;
    png_init_io(png, file);
    png_read_info(png, info);
    if (png_get_interlace_type(png, info) != PNG_INTERLACE_NONE)
        png_error(png, "an interlaced sheet this large cannot be previewed");
    const auto width = static_cast<int>(png_get_image_width(png, info));
    const auto height = static_cast<int>(png_get_image_height(png, info));
    png_set_expand(png);
    png_set_scale_16(png);
    png_set_gray_to_rgb(png);
    png_set_add_alpha(png, 0xff, PNG_FILLER_AFTER);
    png_read_update_info(png, info);
    row.resize(png_get_rowbytes(png, info));
    reduction.start(width, height, Fitted(QSize(width, height), side));
    for (int y = 0; y < height; ++y) {
        if (y % kRowsBetweenStopChecks == 0 && stopAsked && stopAsked())
            png_error(png, "stopped");
        png_read_row(png, row.data(), nullptr);
        reduction.add(y, row.data());
    }
    reduction.flush();
    return true;
}

SheetPicture ReadLargePng(const QString& file, QSize size, int side, const StopAsked& stopAsked)
{
    SheetPicture picture;
    picture.size = size;
    const std::unique_ptr<std::FILE, int (*)(std::FILE*)> stream(
        std::fopen(QFile::encodeName(file).constData(), "rb"), std::fclose);
    if (!stream) {
        picture.error = QString::fromLocal8Bit(std::strerror(errno));
        return picture;
    }
    PngError error;
    png_structp png = png_create_read_struct(PNG_LIBPNG_VER_STRING, &error, OnPngError, OnPngWarning);
    png_infop info = png ? png_create_info_struct(png) : nullptr;
    Reduction reduction;
    std::vector<png_byte> row;
    if (!png || !info) {
        picture.error = QStringLiteral("out of memory");
    } else {
        png_set_user_limits(png, 0x7fffffff, 0x7fffffff);
        if (ReducePng(png, info, stream.get(), side, stopAsked, reduction, row)) {
            picture.preview = std::move(reduction.preview);
            picture.fill = static_cast<double>(reduction.used) / (static_cast<double>(size.width()) * size.height());
        } else {
            picture.error = QString::fromLocal8Bit(error.text);
        }
    }
    png_destroy_read_struct(png ? &png : nullptr, info ? &info : nullptr, nullptr);
    return picture;
}

QImage Checkerboard()
{
    QImage tile(2 * kCheckerSquare, 2 * kCheckerSquare, QImage::Format_RGB32);
    tile.fill(QColor(0xcc, 0xcc, 0xcc));
    QPainter painter(&tile);
    painter.fillRect(0, 0, kCheckerSquare, kCheckerSquare, Qt::white);
    painter.fillRect(kCheckerSquare, kCheckerSquare, kCheckerSquare, kCheckerSquare, Qt::white);
    return tile;
}

QString Percent(double fraction)
{
    return QStringLiteral("%1%").arg(fraction * 100, 0, 'f', fraction > 0 && fraction < 0.1 ? 1 : 0);
}

}  // namespace

SheetPicture ReadSheet(const QString& file, int side, qint64 mostBytesWhole, const StopAsked& stopAsked)
{
    QImageReader reader(file);
    const QSize size = reader.size();
    if (!size.isValid()) {
        SheetPicture picture;
        picture.error = reader.errorString();
        return picture;
    }
    const qint64 bytes = static_cast<qint64>(size.width()) * size.height() * 4;
    if (bytes <= mostBytesWhole) {
        reader.setAllocationLimit(static_cast<int>((mostBytesWhole >> 20) + 1));
        return ReadWhole(reader, side);
    }
    if (reader.format() == "png")
        return ReadLargePng(file, size, side, stopAsked);
    SheetPicture picture;
    picture.size = size;
    picture.error = QObject::tr("too large to show here");
    return picture;
}

SheetPicturePane::SheetPicturePane(QWidget* parent) : QLabel(parent)
{
    setAlignment(Qt::AlignCenter);
    setCursor(Qt::PointingHandCursor);
    setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Ignored);
}

void SheetPicturePane::setPicture(const QImage& image)
{
    image_ = image;
    redraw();
}

QSize SheetPicturePane::sizeHint() const
{
    return {256, 256};
}

QSize SheetPicturePane::minimumSizeHint() const
{
    return {64, 64};
}

void SheetPicturePane::mouseReleaseEvent(QMouseEvent* event)
{
    if (event->button() == Qt::LeftButton && rect().contains(event->position().toPoint()) && !image_.isNull())
        emit clicked();
    QLabel::mouseReleaseEvent(event);
}

void SheetPicturePane::resizeEvent(QResizeEvent* event)
{
    QLabel::resizeEvent(event);
    redraw();
}

// Enlarged, the sheet keeps its pixels sharp; reduced, it is smoothed.
void SheetPicturePane::redraw()
{
    if (image_.isNull()) {
        setPixmap({});
        return;
    }
    const qreal ratio = devicePixelRatioF();
    const QSize space = (size() * ratio).expandedTo({1, 1});
    const QSize fitted = image_.size().scaled(space, Qt::KeepAspectRatio).expandedTo({1, 1});
    const bool enlarged = fitted.width() > image_.width();
    QPixmap pixmap(fitted);
    pixmap.setDevicePixelRatio(ratio);
    QPainter painter(&pixmap);
    painter.fillRect(QRectF(QPointF(), fitted / ratio), QBrush(Checkerboard()));
    painter.setRenderHint(QPainter::SmoothPixmapTransform, !enlarged);
    painter.drawImage(QRectF(QPointF(), fitted / ratio), image_);
    painter.end();
    setPixmap(pixmap);
}

SheetPreview::SheetPreview(QWidget* parent) : QWidget(parent)
{
    chooser_ = new QComboBox(this);
    chooser_->setObjectName(QStringLiteral("sheetChooser"));
    chooser_->setAccessibleName(tr("Sheet"));
    picture_ = new SheetPicturePane(this);
    picture_->setObjectName(QStringLiteral("sheetPicture"));
    caption_ = new QLabel(this);
    caption_->setObjectName(QStringLiteral("sheetCaption"));
    caption_->setAlignment(Qt::AlignHCenter);
    caption_->setTextFormat(Qt::PlainText);
    caption_->setTextInteractionFlags(Qt::TextSelectableByMouse | Qt::TextSelectableByKeyboard);
    open_ = new QPushButton(tr("Open sheet"), this);
    open_->setObjectName(QStringLiteral("openSheet"));

    auto* bottom = new QHBoxLayout;
    bottom->addWidget(caption_, 1);
    bottom->addWidget(open_);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins({});
    layout->addWidget(chooser_);
    layout->addWidget(picture_, 1);
    layout->addLayout(bottom);

    connect(chooser_, &QComboBox::currentIndexChanged, this, &SheetPreview::choose);
    const auto open = [this] {
        if (current_ >= 0)
            emit openRequested(files_.at(current_));
    };
    connect(picture_, &SheetPicturePane::clicked, this, open);
    connect(open_, &QPushButton::clicked, this, open);
}

// Sheets still being read are not wanted any more: a large one stops early.
SheetPreview::~SheetPreview()
{
    for (QFutureWatcherBase* reading : findChildren<QFutureWatcherBase*>())
        reading->cancel();
}

void SheetPreview::showSheets(const QStringList& files)
{
    files_ = files;
    pictures_.assign(static_cast<std::size_t>(files.size()), std::nullopt);
    reading_.assign(static_cast<std::size_t>(files.size()), false);
    current_ = -1;
    const QSignalBlocker blocker(chooser_);
    chooser_->clear();
    for (qsizetype i = 0; i < files.size(); ++i)
        chooser_->addItem(tr("Sheet %1 of %2: %3").arg(i + 1).arg(files.size()).arg(QFileInfo(files[i]).fileName()));
    chooser_->setVisible(files.size() > 1);
    choose(files.isEmpty() ? -1 : 0);
}

void SheetPreview::choose(int index)
{
    current_ = index;
    if (index >= 0 && !pictures_[static_cast<std::size_t>(index)])
        read(index);
    showChosen();
}

void SheetPreview::read(int index)
{
    if (reading_[static_cast<std::size_t>(index)])
        return;
    reading_[static_cast<std::size_t>(index)] = true;
    auto promise = std::make_shared<QPromise<SheetPicture>>();
    auto* watcher = new QFutureWatcher<SheetPicture>(this);
    connect(watcher, &QFutureWatcherBase::finished, this, [this, watcher, index] {
        watcher->deleteLater();
        pictures_[static_cast<std::size_t>(index)] = watcher->future().takeResult();
        if (index == current_)
            showChosen();
    });
    watcher->setFuture(promise->future());
    promise->start();
    QThreadPool::globalInstance()->start([promise, file = files_.at(index)] {
        promise->addResult(
            ReadSheet(file, kPreviewSide, kMostBytesWhole, [&promise] { return promise->isCanceled(); }));
        promise->finish();
    });
}

void SheetPreview::showChosen()
{
    const bool chosen = current_ >= 0;
    open_->setEnabled(chosen);
    if (!chosen) {
        picture_->setPicture({});
        picture_->setText(tr("No sheet"));
        caption_->clear();
        return;
    }
    const QString name = QFileInfo(files_.at(current_)).fileName();
    const auto& picture = pictures_[static_cast<std::size_t>(current_)];
    QString caption;
    QString description;
    if (!picture) {
        picture_->setPicture({});
        picture_->setText(tr("Reading %1…").arg(name));
        caption = name;
        description = tr("Reading");
    } else if (!picture->error.isEmpty()) {
        picture_->setPicture({});
        picture_->setText(tr("No preview of %1: %2").arg(name, picture->error));
        caption = picture->size.isValid()
            ? tr("%1, %2 \u00d7 %3").arg(name).arg(picture->size.width()).arg(picture->size.height())
            : name;
        description = picture_->text();
    } else {
        picture_->setText({});
        picture_->setPicture(picture->preview);
        caption = tr("%1, %2 \u00d7 %3, %4 covered")
                      .arg(name)
                      .arg(picture->size.width())
                      .arg(picture->size.height())
                      .arg(Percent(picture->fill));
    }
    caption_->setText(caption);
    const QString size = picture && picture->size.isValid()
        ? tr(", %1 \u00d7 %2").arg(picture->size.width()).arg(picture->size.height())
        : QString();
    picture_->setAccessibleName(tr("Sheet %1 of %2: %3%4").arg(current_ + 1).arg(files_.size()).arg(name, size));
    picture_->setAccessibleDescription(description);
}

}  // namespace vintrix
