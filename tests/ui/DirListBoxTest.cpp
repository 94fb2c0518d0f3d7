#include "DirListBox.h"
#include "WindowDriver.h"

#include <QAccessible>
#include <QDir>
#include <QFile>
#include <QIcon>
#include <QScopeGuard>
#include <QSemaphore>
#include <QSignalSpy>
#include <QStyle>
#include <QTemporaryDir>
#include <QTest>
#include <QThreadPool>

#include <filesystem>

#include <sys/stat.h>
#include <unistd.h>

using vintrix::DirListBox;
using vintrix::testing::DoubleClick;

class DirListBoxTest : public QObject {
    Q_OBJECT

private slots:
    void initTestCase()
    {
        QVERIFY(root_.isValid());
        for (const char* name : {"a10", "a2", "B", "c", "A1", ".hidden", "zeta/inner/deep", "abc", "Abc", "d1", "d01",
                 "up", "1up", "x100000000000000000000", "x99999999999999999999"})
            QVERIFY(QDir(root_.path()).mkpath(name));
        QFile file(root_.filePath("file.txt"));
        QVERIFY(file.open(QIODevice::WriteOnly));
        QVERIFY(QFile::link(root_.filePath("c"), root_.filePath("link-to-c")));
        ancestors_ = QStringList{"/"} + root_.path().split(u'/', Qt::SkipEmptyParts);
    }

    void init()
    {
        QVERIFY(QDir::setCurrent(root_.path()));
        list_ = std::make_unique<DirListBox>();
        list_->resize(313, 96);
        list_->show();
        QVERIFY(QTest::qWaitForWindowExposed(list_.get()));
        vintrix::testing::WaitForFolderList();
    }

    void cleanup() { list_.reset(); }

    void opensOnTheCurrentFolder()
    {
        QCOMPARE(list_->path(), root_.path());
        // Numbers by value, however long, case ignored, digits before letters;
        // leading zeros, then case, break ties.
        QCOMPARE(shownNames(),
            ancestors_ +
                QStringList({"1up", "A1", "a2", "a10", "Abc", "abc", "B", "c", "d01", "d1", "link-to-c", "up",
                    "x99999999999999999999", "x100000000000000000000", "zeta"}));
        QCOMPARE(list_->currentIndex().row(), ancestors_.size() - 1);
        QVERIFY(list_->selectionModel()->isSelected(list_->currentIndex()));
    }

    void doubleClickOpensAndRedraws()
    {
        QSignalSpy changes(list_.get(), &DirListBox::change);
        DoubleClick(*list_, indexOf("zeta"));
        QCOMPARE(changes.count(), 1);
        QCOMPARE(list_->path(), root_.filePath("zeta"));
        QCOMPARE(shownNames(), ancestors_ + QStringList({"zeta", "inner"}));
        QCOMPARE(list_->currentIndex().data().toString(), QStringLiteral("zeta"));
        // The chain down to the path is drawn open, its subfolders closed.
        const auto image = [](const QModelIndex& index) {
            return index.data(Qt::DecorationRole).value<QIcon>().pixmap(16).toImage();
        };
        QTRY_VERIFY(!image(indexOf("zeta")).isNull());  // drawn after the first paint
        const QImage open = list_->style()->standardIcon(QStyle::SP_DirOpenIcon).pixmap(16).toImage();
        QCOMPARE(image(indexOf("zeta")), open);
        QCOMPARE(image(list_->model()->index(0, 0)), open);
        QCOMPARE(image(indexOf("inner")), list_->style()->standardIcon(QStyle::SP_DirClosedIcon).pixmap(16).toImage());

        DoubleClick(*list_, indexOf("inner"));
        QCOMPARE(changes.count(), 2);
        QCOMPARE(shownNames(), ancestors_ + QStringList({"zeta", "inner", "deep"}));

        // An ancestor opens with the folders around it; opened again while
        // shown, it is reported again.
        DoubleClick(*list_, list_->model()->index(0, 0));
        DoubleClick(*list_, list_->model()->index(0, 0));
        QCOMPARE(changes.count(), 4);
        QCOMPARE(list_->path(), QStringLiteral("/"));
        QCOMPARE(list_->currentIndex().row(), 0);
        QVERIFY(shownNames().contains(ancestors_.value(1)));
        QVERIFY(!shownNames().contains(QStringLiteral("zeta")));
    }

    // A click or the arrow keys only highlight; Enter opens. A screen reader
    // hears which folder is chosen and which is only highlighted.
    void enterOpensTheHighlightedFolder()
    {
        QSignalSpy changes(list_.get(), &DirListBox::change);
        QTest::mouseClick(list_->viewport(), Qt::LeftButton, {}, list_->visualRect(indexOf("A1")).center());
        QCOMPARE(list_->currentIndex(), indexOf("A1"));
        QAccessibleTableInterface* cells = QAccessible::queryAccessibleInterface(list_.get())->tableInterface();
        const auto heard = [cells](int row) {
            QAccessibleInterface* cell = cells->cellAt(row, 0);
            return QStringList{cell->text(QAccessible::Name), cell->text(QAccessible::Description),
                cell->state().selected ? QStringLiteral("selected") : QString()};
        };
        const int chosen = int(ancestors_.size()) - 1;
        QCOMPARE(heard(chosen), QStringList({ancestors_.last(), "chosen", ""}));
        QCOMPARE(heard(0), QStringList({"/", "open", ""}));
        QCOMPARE(heard(indexOf("A1").row()), QStringList({"A1", "", "selected"}));
        list_->setFocus();
        QTest::keyClick(list_.get(), Qt::Key_Down);
        QCOMPARE(list_->currentIndex().data().toString(), QStringLiteral("a2"));
        QCOMPARE(changes.count(), 0);
        QCOMPARE(list_->path(), root_.path());
        QTest::keyClick(list_.get(), Qt::Key_Return);
        QCOMPARE(changes.count(), 1);
        QCOMPARE(list_->path(), root_.filePath("a2"));
    }

    void oddNamesDisplayAndOpen_data()
    {
        QTest::addColumn<QByteArray>("name");
        QTest::addColumn<QString>("shown");

        QTest::newRow("newline") << QByteArray("two\nlines") << QStringLiteral("two\u240Alines");
        QTest::newRow("invalid UTF-8") << QByteArray("bad\xff\xfe") << QStringLiteral("bad\uFFFD\uFFFD");
        QTest::newRow("umlaut") << QByteArray("Bl\xc3\xa4tter") << QStringLiteral("Bl\u00E4tter");
    }

    void oddNamesDisplayAndOpen()
    {
        QFETCH(QByteArray, name);
        QFETCH(QString, shown);

        QTemporaryDir odd;
        const QByteArray folder = QFile::encodeName(odd.path()) + '/' + name;
        // QTemporaryDir cannot remove a name that is not UTF-8.
        const auto removeFolders = qScopeGuard([&folder] { std::filesystem::remove_all(folder.toStdString()); });
        QVERIFY(::mkdir(folder.constData(), 0755) == 0);
        QVERIFY(::mkdir((folder + "/inside").constData(), 0755) == 0);
        list_->setPath(QFile::encodeName(odd.path()));
        QCOMPARE(shownNames().last(), shown);

        QSignalSpy changes(list_.get(), &DirListBox::change);
        DoubleClick(*list_, indexOf(shown));
        QCOMPARE(changes.count(), 1);
        QCOMPARE(list_->encodedPath(), folder);
        QCOMPARE(shownNames().mid(shownNames().size() - 2), QStringList({shown, "inside"}));
    }

    void aLateListingLeavesAFolderOpenedSince()
    {
        QTemporaryDir start, other;
        QVERIFY(QDir(start.path()).mkdir("late") && QDir(other.path()).mkdir("only"));
        // The pool's one thread is held, so that the start folder's listing
        // is still to come when the other folder opens.
        QThreadPool* pool = QThreadPool::globalInstance();
        const int threads = pool->maxThreadCount();
        QSemaphore hold;
        const auto restore = qScopeGuard([&] {
            hold.release();
            vintrix::testing::WaitForFolderList();
            pool->setMaxThreadCount(threads);
        });
        pool->setMaxThreadCount(1);
        pool->start([&hold] { hold.acquire(); });
        QDir::setCurrent(start.path());
        DirListBox list;
        list.show();
        QVERIFY(QTest::qWaitForWindowExposed(&list));  // the first paint asks for the listing
        list.setPath(QFile::encodeName(other.path()));
        hold.release();
        vintrix::testing::WaitForFolderList();
        const QAbstractItemModel* rows = list.model();
        QCOMPARE(rows->index(rows->rowCount() - 1, 0).data().toString(), QStringLiteral("only"));
        QCOMPARE(rows->index(rows->rowCount() - 2, 0).data().toString(), QDir(other.path()).dirName());
        QCOMPARE(list.currentIndex().row(), rows->rowCount() - 2);
    }

    void aFolderDeletedOrUnreadableListsNothingBelowIt()
    {
        QTemporaryDir scratch;
        QVERIFY(QDir(scratch.path()).mkpath("gone/child"));
        list_->setPath(QFile::encodeName(scratch.path() + "/gone"));
        const QModelIndex child = indexOf("child");
        QVERIFY(QDir(scratch.path() + "/gone").removeRecursively());

        QSignalSpy changes(list_.get(), &DirListBox::change);
        DoubleClick(*list_, child);
        QCOMPARE(changes.count(), 1);
        QCOMPARE(list_->path(), scratch.path());
        QVERIFY(!shownNames().contains(QStringLiteral("gone")));

        // The folder shown can vanish too: it then lists nothing below it.
        QVERIFY(QDir(scratch.path()).mkpath("brief"));
        list_->setPath(QFile::encodeName(scratch.path() + "/brief"));
        QVERIFY(QDir(scratch.path()).rmdir("brief"));
        list_->setPath(QFile::encodeName(scratch.path() + "/brief"));
        QCOMPARE(shownNames().last(), QStringLiteral("brief"));

        // So does a folder this user cannot read.
        if (::geteuid() == 0)
            QSKIP("root reads every folder");
        QVERIFY(QDir(scratch.path()).mkpath("locked/hidden-inside"));
        const QByteArray locked = QFile::encodeName(scratch.path() + "/locked");
        QVERIFY(::chmod(locked.constData(), 0) == 0);
        const auto unlock = qScopeGuard([&locked] { ::chmod(locked.constData(), 0755); });
        list_->setPath(QFile::encodeName(scratch.path()));
        DoubleClick(*list_, indexOf("locked"));
        QCOMPARE(list_->encodedPath(), locked);
        QCOMPARE(shownNames().last(), QStringLiteral("locked"));
    }

private:
    QStringList shownNames() const
    {
        QStringList names;
        for (int row = 0; row < list_->model()->rowCount(); ++row)
            names << list_->model()->index(row, 0).data().toString();
        return names;
    }
    QModelIndex indexOf(const QString& name) const
    {
        return list_->model()->index(int(shownNames().lastIndexOf(name)), 0);
    }

    QTemporaryDir root_;
    QStringList ancestors_;  // the rows above the root folder's subfolders
    std::unique_ptr<DirListBox> list_;
};

QTEST_MAIN(DirListBoxTest)
#include "DirListBoxTest.moc"
