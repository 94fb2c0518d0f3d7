#include "JobWindow.h"

#include "DesktopOpener.h"
#include "ProgramIcon.h"
#include "SheetPreview.h"

#include <QCloseEvent>
#include <QDir>
#include <QFile>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QVBoxLayout>

#include <algorithm>
#include <climits>

#include <fcntl.h>
#include <unistd.h>

namespace vintrix {

namespace {

constexpr int kMaxLogLines = 10000;
constexpr qsizetype kMaxScriptBytes = 65536;
constexpr int kHeightWithSheets = 560;

QString StateWord(JobWindow::State state)
{
    switch (state) {
    case JobWindow::State::Running:
        return QStringLiteral("running");
    case JobWindow::State::Stopping:
        return QStringLiteral("stopping");
    case JobWindow::State::Done:
        return QStringLiteral("done");
    case JobWindow::State::Failed:
        return QStringLiteral("failed");
    }
    return {};
}

QString StageFormat(const std::string& name)
{
    const auto stage = StageFromName(name);
    if (!stage)
        return QString::fromStdString(name);
    switch (*stage) {
    case Stage::Reading:
        return QStringLiteral("Reading images: %v of %m");
    case Stage::Palette:
        return QStringLiteral("Choosing palettes: %p%");
    case Stage::Writing:
        return QStringLiteral("Writing sheets: row %v of %m");
    case Stage::Packing:
        return QStringLiteral("Packing");
    case Stage::Waiting:
        return QStringLiteral("Waiting for another run writing into Output");
    }
    return {};
}

void MakeSelectable(QLabel* label)
{
    label->setTextInteractionFlags(Qt::TextSelectableByMouse | Qt::TextSelectableByKeyboard);
    label->setTextFormat(Qt::PlainText);
    label->setWordWrap(true);
}

}  // namespace

JobWindow::JobWindow(const QString& outputName, const QString& scriptFile, QWidget* parent)
    : QWidget(parent), name_(outputName)
{
    setObjectName(QStringLiteral("JobWindow"));
    setWindowIcon(ProgramIcon());

    ReadCommand(scriptFile);
    status_ = new QLabel(this);
    status_->setObjectName(QStringLiteral("status"));
    MakeSelectable(status_);
    SetStatus(tr("Vintrix is packing in %1").arg(QDir::toNativeSeparators(QDir::currentPath())));
    folders_ = new QLabel(this);
    folders_->setObjectName(QStringLiteral("folders"));
    MakeSelectable(folders_);
    ShowFolders();
    progress_ = new QProgressBar(this);
    progress_->setObjectName(QStringLiteral("progress"));
    progress_->setAccessibleName(tr("Progress"));
    progress_->setRange(0, 0);
    progress_->setFormat(tr("Starting"));
    progress_->setTextVisible(true);
    log_ = new QPlainTextEdit(this);
    log_->setObjectName(QStringLiteral("log"));
    log_->setAccessibleName(tr("Output of Vintrix"));
    log_->setReadOnly(true);
    log_->setTextInteractionFlags(Qt::TextSelectableByMouse | Qt::TextSelectableByKeyboard);
    log_->setMaximumBlockCount(kMaxLogLines);
    sheets_ = new SheetPreview(this);
    sheets_->setObjectName(QStringLiteral("sheets"));
    sheets_->hide();
    openError_ = new QLabel(this);
    openError_->setObjectName(QStringLiteral("openError"));
    MakeSelectable(openError_);
    openError_->hide();
    opener_ = new DesktopOpener(this);
    openOutput_ = new QPushButton(tr("Open Output folder"), this);
    openOutput_->setObjectName(QStringLiteral("openOutput"));
    openOutput_->hide();
    close_ = new QPushButton(tr("Close"), this);
    close_->setObjectName(QStringLiteral("close"));

    auto* buttons = new QHBoxLayout;
    buttons->addWidget(openOutput_);
    buttons->addStretch();
    buttons->addWidget(close_);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(status_);
    layout->addWidget(folders_);
    layout->addWidget(progress_);
    layout->addWidget(sheets_, 3);
    layout->addWidget(log_, 1);
    layout->addWidget(openError_);
    layout->addLayout(buttons);
    resize(640, 320);

    connect(openOutput_, &QPushButton::clicked, this, &JobWindow::OpenOutputFolder);
    connect(close_, &QPushButton::clicked, this, &QWidget::close);
    connect(sheets_, &SheetPreview::openRequested, opener_, &DesktopOpener::open);
    connect(opener_, &DesktopOpener::failed, this, [this](const QString& sentence) {
        openError_->setText(sentence);
        openError_->setAccessibleName(sentence);
        openError_->show();
    });
    connect(&job_, &JobProcess::outputLine, this, &JobWindow::ShowLine);
    connect(&job_, &JobProcess::progress, this, &JobWindow::ShowProgress);
    connect(&job_, &JobProcess::ended, this, &JobWindow::ShowEnd);
    SetState(State::Running);
    job_.start(scriptFile);
}

JobWindow::~JobWindow()
{
    job_.disconnect(this);
}

void JobWindow::ShowLine(const QString& line, JobProcess::Channel channel)
{
    if (channel == JobProcess::Channel::Output && !line.isEmpty()) {
        // Vintrix's summary: the packed sheets, then the settings taken from a settings file.
        summary_ += (summary_.isEmpty() ? QString() : QStringLiteral("\n")) + line;
    }
    log_->appendPlainText(line);
}

void JobWindow::ShowProgress(const ProgressLine& progress)
{
    progress_->setFormat(StageFormat(progress.stage));
    // The bar counts in int; very long stages are shown in proportion.
    const std::uint64_t scale = progress.total > INT_MAX ? progress.total / INT_MAX + 1 : 1;
    const int total = static_cast<int>(progress.total / scale);
    progress_->setRange(0, StageFromName(progress.stage) == Stage::Packing ? 0 : total);
    progress_->setValue(static_cast<int>(progress.done / scale));
}

void JobWindow::ShowEnd(bool succeeded, const QString& sentence)
{
    progress_->hide();
    if (succeeded) {
        const QString summary = summary_.isEmpty() ? tr("Vintrix ended without a summary") : summary_;
        SetStatus(tr("Done: %1").arg(summary));
        // The settings file beside the sprites may have sent the output elsewhere.
        if (const auto folder = SummaryOutputFolder(summary_.toStdString())) {
            writtenInto_ = QFile::decodeName(QByteArray::fromStdString(*folder));
            ShowFolders();
        }
        openOutput_->show();
        ShowSheets();
        SetState(State::Done);
    } else {
        SetStatus(sentence);
        SetState(State::Failed);
        if (!closeWhenEnded_)
            BringToFront();
    }
    if (closeWhenEnded_)
        close();
}

void JobWindow::Stop()
{
    SetState(State::Stopping);
    closeWhenEnded_ = true;
    job_.stop();
}

void JobWindow::SetState(State state)
{
    state_ = state;
    setWindowTitle(QStringLiteral("%1 \u2014 %2").arg(name_, StateWord(state)));
}

void JobWindow::OpenOutputFolder()
{
    opener_->open(OutputFolder());
}

// The shell reads the script from where the launcher left it: the command is
// read at its offset 0 without moving that offset. A script on a pipe cannot
// be read twice, and gives no command.
void JobWindow::ReadCommand(const QString& scriptFile)
{
    QByteArray script(kMaxScriptBytes, Qt::Uninitialized);
    ssize_t n = -1;
    if (scriptFile.isEmpty())
        n = ::pread(STDIN_FILENO, script.data(), static_cast<std::size_t>(script.size()), 0);
    else if (const UniqueFd fd(::open(QFile::encodeName(scriptFile).constData(), O_RDONLY | O_CLOEXEC)); fd)
        n = ::pread(fd.get(), script.data(), static_cast<std::size_t>(script.size()), 0);
    if (n > 0)
        command_ = ReadPackCommand(std::string_view(script.constData(), static_cast<std::size_t>(n)));
}

QString JobWindow::OutputFolder() const
{
    QString output = QStringLiteral("Output");
    if (writtenInto_)
        output = writtenInto_->isEmpty() ? QStringLiteral(".") : *writtenInto_;
    else if (command_)
        output = QFile::decodeName(QByteArray::fromStdString(command_->outputFolder));
    return QDir::cleanPath(QDir::current().absoluteFilePath(output));
}

void JobWindow::ShowFolders()
{
    QString text;
    if (command_) {
        const QString images = QFile::decodeName(QByteArray::fromStdString(command_->imagesFolder));
        text = tr("Images folder: %1\n")
                   .arg(QDir::toNativeSeparators(QDir::cleanPath(QDir::current().absoluteFilePath(images))));
    }
    text += tr("Output folder: %1").arg(QDir::toNativeSeparators(OutputFolder()));
    folders_->setText(text);
    folders_->setAccessibleName(text);
}

// The sheets the summary counts, named as Vintrix names them.
void JobWindow::ShowSheets()
{
    const auto count = SheetCount(summary_.toStdString());
    if (!command_ || !count)
        return;
    const QDir output(OutputFolder());
    QStringList files;
    for (int i = 0; i < *count; ++i)
        files << output.absoluteFilePath(QFile::decodeName(QByteArray::fromStdString(SheetFileName(*command_, i))));
    sheets_->showSheets(files);
    sheets_->show();
    resize(width(), std::max(height(), kHeightWithSheets));
}

void JobWindow::SetStatus(const QString& sentence)
{
    status_->setText(sentence);
    status_->setAccessibleName(sentence);
}

// A failed job's window comes up from its minimized state without taking the
// keyboard: the main window's notice may still be open, waiting for its OK.
void JobWindow::BringToFront()
{
    setAttribute(Qt::WA_ShowWithoutActivating);
    setWindowState(windowState() & ~Qt::WindowMinimized);
    show();
    raise();
}

void JobWindow::closeEvent(QCloseEvent* event)
{
    if (state_ != State::Running) {
        event->accept();
        return;
    }
    event->ignore();
    QMessageBox ask(QMessageBox::Question, windowTitle(),
        tr("The job %1 is still running. Stop it?\n\nVintrix then removes its unfinished files; "
           "earlier output in the Output folder stays as it was.")
            .arg(name_),
        QMessageBox::NoButton, this);
    ask.setObjectName(QStringLiteral("askStop"));
    ask.setTextFormat(Qt::PlainText);
    QPushButton* stop = ask.addButton(tr("Stop the job"), QMessageBox::DestructiveRole);
    ask.addButton(tr("Keep running"), QMessageBox::RejectRole);
    ask.setDefaultButton(stop);
    ask.exec();
    if (ask.clickedButton() != stop)
        return;
    if (state_ == State::Running)
        Stop();
    else if (state_ != State::Stopping)  // it ended while the question was open
        QMetaObject::invokeMethod(this, &QWidget::close, Qt::QueuedConnection);
}

void JobWindow::keyPressEvent(QKeyEvent* event)
{
    if (event->key() == Qt::Key_Escape && (state_ == State::Done || state_ == State::Failed)) {
        close();
        return;
    }
    QWidget::keyPressEvent(event);
}

}  // namespace vintrix
