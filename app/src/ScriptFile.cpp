#include "app/ScriptFile.h"

#include "platform/FileIO.h"
#include "platform/Process.h"
#include "platform/TextCodec.h"
#include "platform/TextLines.h"

#include <QDir>
#include <QFileInfo>

namespace {

using platform::TEncoding;

const QString SCreateFailed = QStringLiteral("ファイル \"%s\" を作成できません。%s");
const QString SOpenFailed = QStringLiteral("ファイル \"%s\" を開けません。%s");

QString FullPath(const QString& path) { return QFileInfo(path).absoluteFilePath(); }

} // namespace

QStringList SplitSavedLines(const QString& text)
{
    return platform::SplitLines(text, platform::kCrLfBreaks, platform::TFinalBreak::EndsLine);
}

QByteArray ScriptFileBytes(const QString& text)
{
    return platform::EncodeText(platform::JoinLines(SplitSavedLines(text), u"\r\n", true), TEncoding::UTF8, true);
}

namespace {

// Writes what `bytes` makes; a failure in making or writing it names the file.
template <class F>
void WriteDocument(const QString& path, F&& bytes)
{
    try {
        platform::WriteFileAtomically(path, bytes(), platform::UserStateFolder() + QStringLiteral("/save-copies"));
    } catch (const platform::Exception& e) {
        throw EScriptFileError(platform::Format(SCreateFailed, {FullPath(path), e.Message()}));
    }
}

} // namespace

void SaveScriptFile(const QString& path, const QString& text)
{
    WriteDocument(path, [&] { return ScriptFileBytes(text); });
}

void SaveDocumentFile(const QString& path, const QByteArray& bytes)
{
    WriteDocument(path, [&] { return bytes; });
}

QString LoadScriptFile(const QString& path)
{
    auto fail = [&](const QString& reason) {
        throw EScriptFileError(platform::Format(SOpenFailed, {FullPath(path), reason}));
    };
    QByteArray bytes;
    try {
        bytes = platform::ReadRegularFile(path, platform::EditableFileLimit());
    } catch (const platform::Exception& e) {
        fail(e.Message());
    }
    try {
        // A U+FEFF after the file's own mark is a character of the text.
        return platform::DecodeText(bytes, {TEncoding::UTF8}).text;
    } catch (const platform::EEncodingError&) {
        fail(QStringLiteral("UTF-8 として正しくないバイト列があります"));
    }
    return QString();
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
