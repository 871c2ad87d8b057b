#include "checkfolder.h"

#include "boardpackets.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QStandardPaths>

QString CheckFolder::checksFolder()
{
    const QString given = qEnvironmentVariable("VISUALVIEW_CHECK_DIR");
    if (!given.isEmpty())
        return QDir(given).absolutePath();
    return QDir(QStandardPaths::writableLocation(QStandardPaths::AppLocalDataLocation))
        .filePath(QStringLiteral("checks"));
}

QString CheckFolder::create(const QString& description, QString& error)
{
    // The board's hid, as a file name takes it on every system.
    QString board =
        QString::fromLatin1(BoardPackets::tagValue(description.toLatin1(), "hid")).trimmed();
    for (QChar& c : board) {
        if (!(c.isLetterOrNumber() && c.unicode() < 128) && c != '-' && c != '_' && c != '.')
            c = '_';
    }
    board = board.left(40);
    if (board.isEmpty())
        board = QStringLiteral("board");
    const QDir checks(checksFolder());
    if (!checks.mkpath(QStringLiteral("."))) {
        error = QStringLiteral("cannot make the folder %1").arg(checks.path());
        return {};
    }
    const QString name =
        QDateTime::currentDateTime().toString(QStringLiteral("yyyy-MM-dd-HHmmss-")) + board;
    // Two checks within a second get folders of their own.
    for (int count = 1; count < 100; ++count) {
        const QString folder = count == 1 ? name : name + QStringLiteral("-%1").arg(count);
        if (checks.mkdir(folder))
            return checks.filePath(folder);
        if (!checks.exists(folder))
            break;
    }
    error = QStringLiteral("cannot make a folder for it in %1").arg(checks.path());
    return {};
}

QString CheckFolder::write(const QString& folder, const BoardChecker::Outcome& outcome,
                           const QImage& report)
{
    const QDir dir(folder);
    const auto failed = [&](const QString& why) {
        QDir(folder).removeRecursively();
        return why;
    };
    QFile json(dir.filePath(QStringLiteral("check.json")));
    const QByteArray document =
        QByteArray::fromStdString(CheckReport::json(outcome.check, outcome.board));
    if (!json.open(QIODevice::WriteOnly) || json.write(document) != document.size() ||
        !json.flush())
        return failed(
            QStringLiteral("cannot write %1: %2").arg(json.fileName(), json.errorString()));
    json.close();
    if (!outcome.captureError.isEmpty())
        return failed(QStringLiteral("what the board sent could not all be recorded: %1")
                          .arg(outcome.captureError));
    const QString capture = dir.filePath(QStringLiteral("capture.scn"));
    // As the other files: the temporary file's permissions are for its
    // writer alone.
    if (!QFile::copy(outcome.capture->fileName(), capture) ||
        !QFile::setPermissions(capture, json.permissions()))
        return failed(QStringLiteral("cannot write %1").arg(capture));
    const QString picture = dir.filePath(QStringLiteral("report.png"));
    if (!report.save(picture, "PNG"))
        return failed(QStringLiteral("cannot write %1").arg(picture));
    return {};
}
