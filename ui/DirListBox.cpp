#include "DirListBox.h"

#include "FileNames.h"

#include <QAbstractListModel>
#include <QApplication>
#include <QFile>
#include <QFutureWatcher>
#include <QKeyEvent>
#include <QPromise>
#include <QStyle>
#include <QStyledItemDelegate>
#include <QThreadPool>
#include <QTimer>

#include <algorithm>
#include <cerrno>
#include <memory>
#include <utility>
#include <vector>

#include <dirent.h>
#include <sys/stat.h>
#include <unistd.h>

namespace vintrix {

namespace {

constexpr int kDepthRole = Qt::UserRole + 1;
constexpr int kChosenRole = Qt::UserRole + 2;
constexpr int kIndent = 10;

struct Folder {
    QByteArray path;
    QString name;
    int depth = 0;
    bool open = false;
    QString folded = {};  // the name case-folded once, for sorting
};

bool IsFolder(const QByteArray& path)
{
    struct stat info {};
    return ::stat(path.constData(), &info) == 0 && S_ISDIR(info.st_mode);
}

QByteArray Join(const QByteArray& folder, const QByteArray& name)
{
    return folder.endsWith('/') ? folder + name : folder + '/' + name;
}

// Control characters (a newline in a name, for one) are shown as their
// visible symbols so that every entry keeps to one line.
QString DisplayName(const QByteArray& encoded)
{
    QString name = QFile::decodeName(encoded);
    for (QChar& c : name)
        if (c.unicode() < 0x20)
            c = QChar(0x2400 + c.unicode());
        else if (c.unicode() == 0x7f)
            c = QChar(0x2421);
    return name;
}

// The visible subfolders of `folder`; none when it cannot be read.
std::vector<QByteArray> Subfolders(const QByteArray& folder)
{
    std::vector<QByteArray> names;
    const std::unique_ptr<DIR, int (*)(DIR*)> dir(::opendir(folder.constData()), ::closedir);
    if (!dir)
        return names;
    while (const dirent* entry = ::readdir(dir.get())) {
        const QByteArray name(entry->d_name);
        if (name.startsWith('.'))
            continue;
        const bool folderType = entry->d_type == DT_DIR;
        const bool maybeFolder = entry->d_type == DT_UNKNOWN || entry->d_type == DT_LNK;
        if (folderType || (maybeFolder && IsFolder(Join(folder, name))))
            names.push_back(name);
    }
    return names;
}

// "/a/b" gives "/", "/a", "/a/b".
std::vector<QByteArray> Chain(const QByteArray& path)
{
    std::vector<QByteArray> chain{QByteArray("/")};
    qsizetype slash = 0;
    while ((slash = path.indexOf('/', slash + 1)) > 0)
        chain.push_back(path.left(slash));
    if (path.size() > 1)
        chain.push_back(path);
    return chain;
}

QByteArray Normalized(QByteArray path)
{
    while (path.contains("//"))
        path.replace("//", "/");
    if (path.size() > 1 && path.endsWith('/'))
        path.chop(1);
    return path.startsWith('/') ? path : QByteArray("/") + path;
}

QByteArray NearestExisting(QByteArray path)
{
    while (path.size() > 1 && !IsFolder(path))
        path.truncate(std::max<qsizetype>(path.lastIndexOf('/'), 1));
    return path;
}

class IndentDelegate : public QStyledItemDelegate {
public:
    using QStyledItemDelegate::QStyledItemDelegate;

protected:
    void initStyleOption(QStyleOptionViewItem* option, const QModelIndex& index) const override
    {
        QStyledItemDelegate::initStyleOption(option, index);
        option->rect.adjust(index.data(kDepthRole).toInt() * kIndent, 0, 0, 0);
        option->font.setBold(index.data(kChosenRole).toBool());
    }
};

int CompareDigits(QStringView a, QStringView b)
{
    const auto significant = [](QStringView digits) {
        qsizetype zeros = 0;
        while (zeros + 1 < digits.size() && digits[zeros] == u'0')
            ++zeros;
        return digits.mid(zeros);
    };
    const QStringView x = significant(a);
    const QStringView y = significant(b);
    if (x.size() != y.size())
        return x.size() < y.size() ? -1 : 1;
    return x.compare(y);
}

// Compares texts already case-folded, runs of digits by their value.
int NaturalCompare(QStringView a, QStringView b)
{
    qsizetype i = 0;
    qsizetype j = 0;
    while (i < a.size() && j < b.size()) {
        if (a[i].isDigit() && b[j].isDigit()) {
            const qsizetype startA = i;
            const qsizetype startB = j;
            while (i < a.size() && a[i].isDigit())
                ++i;
            while (j < b.size() && b[j].isDigit())
                ++j;
            if (const int c = CompareDigits(a.mid(startA, i - startA), b.mid(startB, j - startB)))
                return c;
            continue;
        }
        if (a[i] != b[j])
            return a[i] < b[j] ? -1 : 1;
        ++i;
        ++j;
    }
    if (i < a.size() || j < b.size())
        return i < a.size() ? 1 : -1;
    return 0;
}

// Folding each name once, rather than in every comparison, keeps sorting a
// folder of thousands of subfolders quick.
int CompareNames(const QString& foldedA, const QString& a, const QString& foldedB, const QString& b)
{
    const int c = NaturalCompare(foldedA, foldedB);
    return c != 0 ? c : a.compare(b);
}

// The visible subfolders of `path`, sorted and ready to show one level
// below it. Touches no widget, so it can run on any thread.
std::vector<Folder> SortedSubfolders(const QByteArray& path)
{
    const int depth = static_cast<int>(Chain(path).size());
    std::vector<Folder> folders;
    for (const QByteArray& name : Subfolders(path)) {
        QString shown = DisplayName(name);
        QString folded = shown.toCaseFolded();
        folders.push_back({Join(path, name), std::move(shown), depth, false, std::move(folded)});
    }
    std::sort(folders.begin(), folders.end(), [](const Folder& a, const Folder& b) {
        const int c = CompareNames(a.folded, a.name, b.folded, b.name);
        return c != 0 ? c < 0 : a.path < b.path;
    });
    return folders;
}

}  // namespace

class FolderListModel : public QAbstractListModel {
public:
    using QAbstractListModel::QAbstractListModel;

    // Shows the chain down to `path`; its subfolders follow with add().
    void show(const QByteArray& path)
    {
        beginResetModel();
        folders_.clear();
        int depth = 0;
        for (const QByteArray& step : Chain(path)) {
            folders_.push_back({step,
                step == "/" ? QStringLiteral("/") : DisplayName(step.mid(step.lastIndexOf('/') + 1)), depth++, true});
        }
        currentRow_ = static_cast<int>(folders_.size()) - 1;
        endResetModel();
    }

    void add(std::vector<Folder> subfolders)
    {
        if (subfolders.empty())
            return;
        const int first = static_cast<int>(folders_.size());
        beginInsertRows({}, first, first + static_cast<int>(subfolders.size()) - 1);
        folders_.insert(
            folders_.end(), std::make_move_iterator(subfolders.begin()), std::make_move_iterator(subfolders.end()));
        endInsertRows();
    }

    void setIcons(const QStyle* style)
    {
        openIcon_ = style->standardIcon(QStyle::SP_DirOpenIcon);
        closedIcon_ = style->standardIcon(QStyle::SP_DirClosedIcon);
        if (!folders_.empty())
            emit dataChanged(index(0), index(rowCount() - 1), {Qt::DecorationRole});
    }

    int currentRow() const { return currentRow_; }
    const QByteArray& pathAt(int row) const { return folders_.at(static_cast<std::size_t>(row)).path; }

    int rowCount(const QModelIndex& parent = {}) const override
    {
        return parent.isValid() ? 0 : static_cast<int>(folders_.size());
    }

    QVariant data(const QModelIndex& index, int role) const override
    {
        if (!index.isValid() || index.row() >= rowCount())
            return {};
        const Folder& folder = folders_[static_cast<std::size_t>(index.row())];
        switch (role) {
        case Qt::DisplayRole:
            return folder.name;
        case Qt::DecorationRole:
            return folder.open ? openIcon_ : closedIcon_;
        case kChosenRole:
            return index.row() == currentRow_;
        case Qt::AccessibleDescriptionRole:
            if (index.row() == currentRow_)
                return DirListBox::tr("chosen");
            return folder.open ? DirListBox::tr("open") : QString();
        case kDepthRole:
            return folder.depth;
        default:
            return {};
        }
    }

private:
    std::vector<Folder> folders_;
    int currentRow_ = 0;
    QIcon openIcon_;
    QIcon closedIcon_;
};

DirListBox::DirListBox(QWidget* parent) : QListView(parent), model_(new FolderListModel(this))
{
    setModel(model_);
    setItemDelegate(new IndentDelegate(this));
    setUniformItemSizes(true);
    setEditTriggers(QAbstractItemView::NoEditTriggers);
    setSelectionMode(QAbstractItemView::SingleSelection);
    connect(this, &QListView::doubleClicked, this, [this](const QModelIndex& index) { openRow(index.row()); });
    // The start folder may hold thousands of subfolders: they are read on
    // another thread once the window has shown, and added when ready.
    showChain(Normalized(CurrentFolder()));
    listAfterFirstPaint_ = true;
}

void DirListBox::listInBackground()
{
    auto promise = std::make_shared<QPromise<std::vector<Folder>>>();
    auto* listing = new QFutureWatcher<std::vector<Folder>>(this);
    connect(listing, &QFutureWatcherBase::finished, this, [this, listing] {
        pendingListing_ = nullptr;
        listing->deleteLater();
        const bool onFolder = currentIndex().row() == model_->currentRow();
        model_->add(listing->future().takeResult());
        if (onFolder)
            scrollTo(currentIndex(), QAbstractItemView::PositionAtCenter);
    });
    listing->setFuture(promise->future());
    pendingListing_ = listing;
    promise->start();
    QThreadPool::globalInstance()->start([promise, path = path_] {
        promise->addResult(SortedSubfolders(path));
        promise->finish();
    });
}

QString DirListBox::path() const
{
    return QString::fromStdU16String(DecodeFileName(path_.toStdString()));
}

void DirListBox::setPath(const QByteArray& encodedPath)
{
    showChain(Normalized(encodedPath));
    model_->add(SortedSubfolders(path_));
    if (isVisible())
        scrollTo(currentIndex(), QAbstractItemView::PositionAtCenter);
}

void DirListBox::showChain(const QByteArray& path)
{
    // A listing still on its way, or still to start, belongs to a folder no
    // longer shown.
    delete pendingListing_;
    pendingListing_ = nullptr;
    listAfterFirstPaint_ = false;
    path_ = path;
    model_->show(path_);
    const QModelIndex current = model_->index(model_->currentRow());
    setCurrentIndex(current);
    // A hidden list is laid out when it shows, and centred then.
    if (isVisible())
        scrollTo(current, QAbstractItemView::PositionAtCenter);
}

// Looking the folder icons up in the icon theme takes several milliseconds,
// and reading a start folder of thousands of subfolders would compete with
// the window for the cores: both wait until the window has shown.
void DirListBox::paintEvent(QPaintEvent* event)
{
    QListView::paintEvent(event);
    if (!iconsAsked_) {
        iconsAsked_ = true;
        QTimer::singleShot(0, this, [this] { model_->setIcons(style()); });
    }
    if (listAfterFirstPaint_) {
        listAfterFirstPaint_ = false;
        listInBackground();
    }
}

void DirListBox::openRow(int row)
{
    if (row < 0 || row >= model_->rowCount())
        return;
    // A folder removed since the list was drawn opens its nearest surviving parent.
    setPath(NearestExisting(model_->pathAt(row)));
    emit change();
}

void DirListBox::keyPressEvent(QKeyEvent* event)
{
    if ((event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter) && currentIndex().isValid()) {
        openRow(currentIndex().row());
        return;
    }
    QListView::keyPressEvent(event);
}

void DirListBox::resizeEvent(QResizeEvent* event)
{
    QListView::resizeEvent(event);
    scrollTo(currentIndex(), QAbstractItemView::PositionAtCenter);
}

void DirListBox::showEvent(QShowEvent* event)
{
    QListView::showEvent(event);
    scrollTo(currentIndex(), QAbstractItemView::PositionAtCenter);
}

QByteArray CurrentFolder()
{
    QByteArray buffer(4096, '\0');
    while (::getcwd(buffer.data(), static_cast<std::size_t>(buffer.size())) == nullptr) {
        if (errno != ERANGE)
            return "/";
        buffer.resize(buffer.size() * 2);
    }
    return QByteArray(buffer.constData());
}

}  // namespace vintrix
