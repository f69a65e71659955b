#include "app/ScriptFile.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>
#include <QStringDecoder>

namespace {

const QString SCreateFailed = QStringLiteral("ファイル \"%s\" を作成できません。%s");
const QString SOpenFailed = QStringLiteral("ファイル \"%s\" を開けません。%s");

QString FullPath(const QString& path) { return QFileInfo(path).absoluteFilePath(); }

} // namespace

QStringList SplitSavedLines(const QString& text)
{
    QStringList lines;
    qsizetype start = 0;
    const qsizetype n = text.size();
    for (qsizetype i = 0; i < n; ++i) {
        QChar c = text.at(i);
        if (c == u'\r' || c == u'\n') {
            lines << text.mid(start, i - start);
            if (c == u'\r' && i + 1 < n && text.at(i + 1) == u'\n')
                ++i;
            start = i + 1;
        }
    }
    if (start < n)
        lines << text.mid(start);
    return lines;
}

QByteArray ScriptFileBytes(const QString& text)
{
    QByteArray bytes("\xEF\xBB\xBF");
    bytes.reserve(text.size() + 64);
    for (const QString& line : SplitSavedLines(text)) {
        bytes += line.toUtf8();
        bytes += "\r\n";
    }
    return bytes;
}

void SaveScriptFile(const QString& path, const QString& text)
{
    QSaveFile file(path);
    auto fail = [&](const QString& reason) {
        throw EScriptFileError(platform::Format(SCreateFailed, {FullPath(path), reason}));
    };
    if (!file.open(QIODevice::WriteOnly))
        fail(file.errorString());
    const QByteArray bytes = ScriptFileBytes(text);
    if (file.write(bytes) != bytes.size()) {
        QString reason = file.errorString();
        file.cancelWriting();
        fail(reason);
    }
    if (!file.commit())
        fail(file.errorString());
}

QString LoadScriptFile(const QString& path)
{
    auto fail = [&](const QString& reason) {
        throw EScriptFileError(platform::Format(SOpenFailed, {FullPath(path), reason}));
    };
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        fail(file.errorString());
    QByteArray bytes = file.readAll();
    if (file.error() != QFileDevice::NoError)
        fail(file.errorString());
    if (bytes.startsWith("\xEF\xBB\xBF"))
        bytes.remove(0, 3);
    // The file's own mark is gone; a second one is a character of the text.
    QStringDecoder decoder(QStringDecoder::Utf8,
                           QStringDecoder::Flag::Stateless | QStringDecoder::Flag::ConvertInitialBom);
    QString text = decoder.decode(bytes);
    if (decoder.hasError())
        fail(QStringLiteral("UTF-8 として正しくないバイト列があります"));
    return text;
}

QString DialogStartFolder(const QString& currentFile, const QStringList& recentFiles)
{
    QStringList candidates{currentFile};
    candidates += recentFiles;
    for (const QString& file : candidates) {
        if (file.isEmpty())
            continue;
        const QFileInfo info(file);
        if (info.isAbsolute() && info.absoluteDir().exists())
            return info.absolutePath();
    }
    return QDir::homePath();
}
