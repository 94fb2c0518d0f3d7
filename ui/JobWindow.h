// The window of one packing job, in a process of its own (vintrix-job), so
// that it lives as long as the job and not as long as the main window. It
// starts the job (a JobProcess: the job's script run by /bin/sh), shows what
// Vintrix prints as it prints it and a progress bar while it reads, packs and writes, and at the end
// either the summary, the sheets and a button that opens the Output folder,
// or the reason for the failure, brought to the front without taking the
// keyboard. It names the images folder and the output folder in full, as the
// job's command gives them. Closing it while the job runs asks whether to
// stop the job.
#pragma once

#include "JobCommand.h"
#include "JobProcess.h"

#include <QWidget>

#include <optional>

class QLabel;
class QPlainTextEdit;
class QProgressBar;
class QPushButton;

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
    void ShowLine(const QString& line, JobProcess::Channel channel);
    void ShowProgress(const ProgressLine& progress);
    void ShowEnd(bool succeeded, const QString& sentence);
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
    JobProcess job_;
    QString summary_;
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
