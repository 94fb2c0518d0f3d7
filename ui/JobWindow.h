// The window of one packing job, in a process of its own (vintrix-job), so
// that it lives as long as the job and not as long as the main window. It
// runs the job's script with /bin/sh, shows what Vintrix prints as it prints
// it and a progress bar while it reads, packs and writes, and at the end
// either the summary, the sheets and a button that opens the Output folder,
// or the reason for the failure, brought to the front without taking the
// keyboard. It names the images folder and the output folder in full, as the
// job's command gives them. Closing it while the job runs asks whether to
// stop the job.
#pragma once

#include "JobCommand.h"
#include "JobOutcome.h"

#include <QByteArray>
#include <QProcess>
#include <QWidget>

#include <optional>

class QLabel;
class QPlainTextEdit;
class QProgressBar;
class QPushButton;
class QSocketNotifier;

namespace vintrix {
class DesktopOpener;
class SheetPreview;
}  // namespace vintrix

namespace vintrix {

class JobWindow : public QWidget {
    Q_OBJECT

public:
    enum class State { Running, Stopping, Done, Failed };

    // `outputName` names the job in the title. The shell reads `scriptFile`,
    // or this program's own standard input when it is empty.
    explicit JobWindow(const QString& outputName, const QString& scriptFile = {}, QWidget* parent = nullptr);
    ~JobWindow() override;

    State state() const { return state_; }

protected:
    void closeEvent(QCloseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;

private:
    // One of the job's two output streams, read through a pipe of our own:
    // its end of file means every process that held it has ended.
    struct Stream {
        int fd = -1;
        int childFd = -1;
        QSocketNotifier* notifier = nullptr;
        QByteArray pending;
    };

    void Start(const QString& scriptFile);
    void ReadStream(Stream& stream, bool isError);
    void ShowLine(const QString& line, bool isError);
    void ShowProgress(const ProgressLine& progress);
    void ShellFinished(int exitCode, QProcess::ExitStatus exitStatus);
    void ShellFailedToStart();
    void EndIfOver();
    void Stop();
    void SetState(State state);
    void OpenOutputFolder();

    void ReadCommand(const QString& scriptFile);
    QString OutputFolder() const;
    void ShowFolders();
    void ShowSheets();
    void SetStatus(const QString& sentence);
    void BringToFront();

    QString name_;
    State state_ = State::Running;
    QProcess shell_;
    Stream out_, err_;
    bool shellOver_ = false;
    ShellEnd shellEnd_;
    QString summary_;
    QString startError_;
    bool closeWhenEnded_ = false;
    std::optional<PackCommand> command_;
    std::optional<QString> writtenInto_;  // the output folder, once the summary names it

    QLabel* status_;
    QLabel* folders_;
    QProgressBar* progress_;
    QPlainTextEdit* log_;
    SheetPreview* sheets_;
    QLabel* openError_;
    DesktopOpener* opener_;
    QPushButton* openOutput_;
    QPushButton* close_;
};

}  // namespace vintrix
