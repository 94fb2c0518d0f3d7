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
        if (!box) {
            return;
        }
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

// Double-clicks the folder list's entry for `name` (a line break shows as
// the symbol U+240A), after a click as a real mouse gives.
inline bool PickFolder(Form1& window, QString name)
{
    WaitForFolderList();
    auto* folders = window.findChild<DirListBox*>(QStringLiteral("Dir1"));
    name.replace(u'\n', QChar(0x240A));
    const QModelIndexList found =
        folders->model()->match(folders->model()->index(0, 0), Qt::DisplayRole, name, 1, Qt::MatchExactly);
    if (found.size() != 1) {
        return false;
    }
    folders->scrollTo(found[0]);
    const QPoint center = folders->visualRect(found[0]).center();
    QTest::mouseClick(folders->viewport(), Qt::LeftButton, {}, center);
    QTest::mouseDClick(folders->viewport(), Qt::LeftButton, {}, center);
    return true;
}

inline void ClickGo(Form1& window)
{
    QTest::mouseClick(window.findChild<QPushButton*>(QStringLiteral("Command1")), Qt::LeftButton);
}

}  // namespace vintrix::testing
