// Vintrix Studio: opens the main window and runs until it is closed. The
// program reads no arguments, settings or environment of its own.
#include "Form1.h"

#include <QApplication>

int main(int argc, char** argv)
{
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Vintrix Studio"));
    QApplication::setApplicationVersion(QStringLiteral("1.00"));
    QApplication::setOrganizationDomain(QStringLiteral("vintrix.example.org"));
    QGuiApplication::setDesktopFileName(QStringLiteral("org.example.vintrix.studio"));

    vintrix::Form1 window;
    QApplication::setWindowIcon(window.windowIcon());
    window.show();
    return app.exec();
}
