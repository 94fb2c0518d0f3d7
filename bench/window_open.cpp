// Opens a bare Qt window or Vintrix Studio's main window, prints the wall
// clock in nanoseconds as soon as the window system first shows it, and
// quits, so that window_open.sh can time the process from its start to a
// window on the screen. What the program does after that, such as adding a
// busy folder's subfolders and tearing down, is left out.
#include "Form1.h"

#include <QApplication>
#include <QEvent>
#include <QTimer>
#include <QWindow>

#include <cstdio>
#include <cstring>
#include <ctime>
#include <memory>

namespace {

class QuitWhenExposed : public QObject {
protected:
    bool eventFilter(QObject* watched, QEvent* event) override
    {
        if (event->type() == QEvent::Expose && static_cast<QWindow*>(watched)->isExposed() && !seen_) {
            seen_ = true;
            timespec now{};
            clock_gettime(CLOCK_REALTIME, &now);
            std::printf("%lld\n", static_cast<long long>(now.tv_sec) * 1000000000LL + now.tv_nsec);
            std::fflush(stdout);
            QTimer::singleShot(0, qApp, &QCoreApplication::quit);
        }
        return false;
    }

private:
    bool seen_ = false;
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
