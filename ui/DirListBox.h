// A directory list box: the folder chain from the root down to the current
// folder, drawn open and indented by depth, followed by the current folder's
// subfolders, drawn closed one level deeper. The chosen folder's name is in
// bold, and screen readers hear it described as "chosen" and the folders
// above it as "open". A single click only moves the highlight; a
// double-click (or Enter) on an entry makes that folder the path, redraws
// the list around it and emits change(). Paths are kept as the file system's
// own bytes, so that names which are not valid UTF-8 still open. The start
// folder's subfolders are read on another thread and join the list when
// ready; setPath() lists at once.
#pragma once

#include <QByteArray>
#include <QListView>
#include <QString>

namespace vintrix {

class FolderListModel;

class DirListBox : public QListView {
    Q_OBJECT

public:
    explicit DirListBox(QWidget* parent = nullptr);

    // The path for the job's command line; bytes that are not UTF-8 are
    // carried as described in FileNames.h.
    QString path() const;
    const QByteArray& encodedPath() const { return path_; }

    // Shows `encodedPath` without emitting change().
    void setPath(const QByteArray& encodedPath);

    // Opens the folder of `row` as a double-click does.
    void openRow(int row);

signals:
    void change();

protected:
    void keyPressEvent(QKeyEvent* event) override;
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void showEvent(QShowEvent* event) override;

private:
    void showChain(const QByteArray& path);
    void listInBackground();

    QByteArray path_;
    FolderListModel* model_;
    QObject* pendingListing_ = nullptr;
    bool iconsAsked_ = false;
    bool listAfterFirstPaint_ = false;
};

// The process's current folder as the file system names it; "/" if it no
// longer exists.
QByteArray CurrentFolder();

}  // namespace vintrix
