// Opens a file or folder with the desktop's opener, xdg-open. The job's
// search path begins with the current folder, where the shell is to find a
// Vintrix; the opener, and every program it runs in turn, is looked for only
// in the folders of PATH that are given in full, so that a program planted in
// the current folder under the opener's name never runs.
#pragma once

#include <QByteArray>
#include <QObject>
#include <QString>

namespace vintrix {

// `path` without its empty and relative entries.
QByteArray FullFoldersOnly(const QByteArray& path);

class DesktopOpener : public QObject {
    Q_OBJECT

public:
    using QObject::QObject;
    // An opener still at work when this ends goes on by itself.
    ~DesktopOpener() override;

    void open(const QString& path);

signals:
    // One sentence for the user when the opener is missing or fails.
    void failed(const QString& sentence);
};

}  // namespace vintrix
