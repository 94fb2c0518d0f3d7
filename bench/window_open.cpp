// Times a program's window from outside, as a user sees it: `time PROGRAM
// [ARGS]` asks the X server to report every top-level window mapped, starts
// PROGRAM, prints the milliseconds from its start until its first window is
// mapped, and then ends it. `bare` is the yardstick: a bare Qt window of the
// main window's size, which stays open until it is ended; `bare caption`
// gives it one caption, the main window's first, which costs what any text
// does in Qt before the window shows: the font configuration, a font and,
// for the accessibility bridge, the session bus.
#include <QApplication>
#include <QLabel>
#include <QWidget>

#include <xcb/xcb.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <memory>

#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace {

constexpr int kTimeoutMs = 20000;

double NowMs()
{
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<double>(now.tv_sec) * 1e3 + static_cast<double>(now.tv_nsec) / 1e6;
}

int Bare(int argc, char** argv)
{
    QApplication app(argc, argv);
    QWidget window;
    window.resize(427, 431);
    if (argc > 2 && std::strcmp(argv[2], "caption") == 0)
        (new QLabel(QStringLiteral("Filename :"), &window))->move(24, 16);
    window.show();
    return app.exec();
}

// Waits for the first MapNotify on the root window; false on a timeout or a
// lost connection.
bool WaitForMap(xcb_connection_t* x, double deadline)
{
    while (NowMs() < deadline) {
        while (const std::unique_ptr<xcb_generic_event_t, void (*)(void*)> event{xcb_poll_for_event(x), std::free})
            if ((event->response_type & 0x7f) == XCB_MAP_NOTIFY &&
                !reinterpret_cast<const xcb_map_notify_event_t*>(event.get())->override_redirect)
                return true;
        if (xcb_connection_has_error(x))
            return false;
        pollfd fd{xcb_get_file_descriptor(x), POLLIN, 0};
        ::poll(&fd, 1, static_cast<int>(deadline - NowMs()) + 1);
    }
    return false;
}

int Time(char** command)
{
    // A server busy with the last run's clients may refuse for a moment.
    std::unique_ptr<xcb_connection_t, void (*)(xcb_connection_t*)> x{xcb_connect(nullptr, nullptr), xcb_disconnect};
    for (int attempt = 0; xcb_connection_has_error(x.get()) && attempt < 50; ++attempt) {
        ::usleep(20000);
        x.reset(xcb_connect(nullptr, nullptr));
    }
    if (xcb_connection_has_error(x.get())) {
        std::fprintf(stderr, "window_open: cannot reach the X server\n");
        return 1;
    }
    const xcb_window_t root = xcb_setup_roots_iterator(xcb_get_setup(x.get())).data->root;
    const uint32_t mask = XCB_EVENT_MASK_SUBSTRUCTURE_NOTIFY;
    xcb_request_check(x.get(), xcb_change_window_attributes_checked(x.get(), root, XCB_CW_EVENT_MASK, &mask));

    const double start = NowMs();
    pid_t child = 0;
    if (const int error = posix_spawn(&child, command[0], nullptr, nullptr, command, environ)) {
        std::fprintf(stderr, "window_open: cannot start %s: %s\n", command[0], std::strerror(error));
        return 1;
    }
    const bool mapped = WaitForMap(x.get(), start + kTimeoutMs);
    const double shown = NowMs();
    ::kill(child, SIGKILL);
    int status = 0;
    while (::waitpid(child, &status, 0) < 0 && errno == EINTR) {}
    if (!mapped) {
        std::fprintf(stderr, "window_open: %s mapped no window\n", command[0]);
        return 1;
    }
    std::printf("%.1f\n", shown - start);
    return 0;
}

}  // namespace

int main(int argc, char** argv)
{
    if (argc > 1 && std::strcmp(argv[1], "bare") == 0)
        return Bare(argc, argv);
    if (argc > 2 && std::strcmp(argv[1], "time") == 0)
        return Time(argv + 2);
    std::fprintf(stderr, "usage: %s bare [caption] | time PROGRAM [ARGS]\n", argv[0]);
    return 2;
}
