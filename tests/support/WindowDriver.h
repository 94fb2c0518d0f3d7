// Drives the real window in tests the way a user does: picks a folder in
// the folder list, presses Go, and closes the message that follows.
#pragma once

#include "DirListBox.h"
#include "Form1.h"

#include <QApplication>
#include <QMessageBox>
#include <QPushButton>
#include <QTest>
#include <QThreadPool>
#include <QTimer>

#include <functional>

namespace vintrix::testing {

// Once the next modal message box is open, hands it to `seen` and clicks
// the button labelled `button`, or OK when none is named.
inline void CloseNextMessage(QObject* context, std::function<void(const QMessageBox&)> seen, const QString& button = {})
{
    auto* timer = new QTimer(context);
    QObject::connect(timer, &QTimer::timeout, context, [timer, seen = std::move(seen), button] {
        auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
        if (!box)
            return;
        timer->stop();
        timer->deleteLater();
        seen(*box);
        for (QAbstractButton* choice : box->buttons()) {
            if (button.isEmpty() ? box->standardButton(choice) == QMessageBox::Ok : choice->text() == button) {
                QTest::mouseClick(choice, Qt::LeftButton);
                return;
            }
        }
    });
    timer->start(10);
}

// The folder list adds the start folder's subfolders once the thread pool
// has read them.
inline void WaitForFolderList()
{
    QThreadPool::globalInstance()->waitForDone();
    QCoreApplication::sendPostedEvents();
}

// A real double-click: a click, then the second press that arrives as a
// double-click event.
inline void DoubleClick(QAbstractItemView& view, const QModelIndex& index)
{
    view.scrollTo(index);
    const QPoint center = view.visualRect(index).center();
    QTest::mouseClick(view.viewport(), Qt::LeftButton, {}, center);
    QTest::mouseDClick(view.viewport(), Qt::LeftButton, {}, center);
}

// Double-clicks the folder list's entry for `name` (a line break shows as
// the symbol U+240A).
inline bool PickFolder(Form1& window, QString name)
{
    WaitForFolderList();
    auto* folders = window.findChild<DirListBox*>(QStringLiteral("Dir1"));
    name.replace(u'\n', QChar(0x240A));
    const QModelIndexList found =
        folders->model()->match(folders->model()->index(0, 0), Qt::DisplayRole, name, 1, Qt::MatchExactly);
    if (found.size() != 1)
        return false;
    DoubleClick(*folders, found[0]);
    return true;
}

inline void ClickGo(Form1& window)
{
    QTest::mouseClick(window.findChild<QPushButton*>(QStringLiteral("Command1")), Qt::LeftButton);
}

}  // namespace vintrix::testing
