#include "DesktopOpener.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QProcessEnvironment>

namespace vintrix {

namespace {

constexpr char kOpener[] = "xdg-open";

QString FindOpener(const QByteArray& path)
{
    for (const QByteArray& folder : path.split(':')) {
        const QFileInfo program(QFile::decodeName(folder) + QLatin1Char('/') + QLatin1String(kOpener));
        if (program.isFile() && program.isExecutable())
            return program.absoluteFilePath();
    }
    return {};
}

}  // namespace

QByteArray FullFoldersOnly(const QByteArray& path)
{
    QByteArrayList folders;
    for (const QByteArray& folder : path.split(':'))
        if (folder.startsWith('/'))
            folders << folder;
    return folders.join(':');
}

DesktopOpener::~DesktopOpener()
{
    for (QProcess* opener : findChildren<QProcess*>()) {
        if (opener->state() != QProcess::NotRunning) {
            opener->disconnect();
            opener->setParent(nullptr);  // not destroyed, so not stopped
        }
    }
}

void DesktopOpener::open(const QString& path)
{
    const QString name = QDir::toNativeSeparators(path);
    const QByteArray searchPath = FullFoldersOnly(qgetenv("PATH"));
    const QString program = FindOpener(searchPath);
    if (program.isEmpty()) {
        emit failed(tr("Cannot open %1: the desktop's opener, %2, was not found.").arg(name, QLatin1String(kOpener)));
        return;
    }
    auto* opener = new QProcess(this);
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("PATH"), QFile::decodeName(searchPath));
    opener->setProcessEnvironment(environment);
    opener->setProgram(program);
    opener->setArguments({path});
    opener->setStandardInputFile(QProcess::nullDevice());
    opener->setStandardOutputFile(QProcess::nullDevice());
    connect(
        opener, &QProcess::finished, this,
        [this, opener, name](int code, QProcess::ExitStatus status) {
            opener->deleteLater();
            if (status == QProcess::NormalExit && code == 0)
                return;
            const QString why = QString::fromLocal8Bit(opener->readAllStandardError()).trimmed().section(u'\n', -1);
            emit failed(tr("Cannot open %1: %2 could not open it (%3).")
                            .arg(name, QLatin1String(kOpener), why.isEmpty() ? tr("exit status %1").arg(code) : why));
        });
    connect(opener, &QProcess::errorOccurred, this, [this, opener, name](QProcess::ProcessError error) {
        if (error == QProcess::FailedToStart) {
            opener->deleteLater();
            emit failed(tr("Cannot open %1: %2").arg(name, opener->errorString()));
        }
    });
    opener->start();
}

}  // namespace vintrix
