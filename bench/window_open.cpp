// Opens a bare Qt window or Vintrix Studio's main window and quits as soon as
// the window system first shows it, so that window_open.sh can time the
// whole process from start to a window on the screen.
#include "Form1.h"

#include <QApplication>
#include <QEvent>
#include <QTimer>
#include <QWindow>

#include <cstring>
#include <memory>

namespace {

class QuitWhenExposed : public QObject {
protected:
    bool eventFilter(QObject* watched, QEvent* event) override
    {
        if (event->type() == QEvent::Expose && static_cast<QWindow*>(watched)->isExposed()) {
            QTimer::singleShot(0, qApp, &QCoreApplication::quit);
        }
        return false;
    }
};

}  // namespace

int main(int argc, char** argv)
{
    QApplication app(argc, argv);
    const bool bare = argc > 1 && std::strcmp(argv[1], "bare") == 0;
    std::unique_ptr<QWidget> window = bare ? std::make_unique<QWidget>() : std::make_unique<vintrix::Form1>();
    window->resize(427, 431);
    QuitWhenExposed watch;
    window->winId();
    window->windowHandle()->installEventFilter(&watch);
    window->show();
    return app.exec();
}
