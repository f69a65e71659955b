// Any bytes opened as a script: the application's reader gives the text
// exactly when the bytes are UTF-8 (after an optional byte-order mark), and
// then the very text those bytes encode; otherwise its encoding error.
// Saving a loaded text and opening the file again gives the same lines and
// the same bytes on the next save. The editor buffer's own stream reader
// is held to the same rules in every encoding.
#include "FuzzInput.h"

#include "app/ScriptFile.h"
#include "editor/LineBuffer.h"
#include "editor/TextLoader.h"

#include <QBuffer>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <cstdio>
#include <memory>
#include <optional>

namespace {

using fuzz::Check;
using editor::TEncoding;
using editor::TLineBuffer;

struct Files {
    std::unique_ptr<QTemporaryDir> dir;
    QString opened, saved;

    Files()
    {
        const QString base = QDir(QStringLiteral("/dev/shm")).exists() ? QStringLiteral("/dev/shm") : QDir::tempPath();
        dir = std::make_unique<QTemporaryDir>(base + QStringLiteral("/quorbel-fuzz-XXXXXX"));
        opened = dir->filePath(QStringLiteral("opened.py"));
        saved = dir->filePath(QStringLiteral("saved.py"));
    }
};

QByteArray ReadAll(const QString& path)
{
    QFile f(path);
    Check(f.open(QIODevice::ReadOnly), "a saved file cannot be read");
    return f.readAll();
}

QString EditorText(const QString& text)
{
    TLineBuffer b;
    b.SetText(text);
    return b.GetText();
}

void CheckApplicationReader(const Files& files, const QByteArray& bytes)
{
    std::FILE* f = std::fopen(qPrintable(files.opened), "wb");
    Check(f != nullptr && std::fwrite(bytes.constData(), 1, std::size_t(bytes.size()), f) == std::size_t(bytes.size()),
          "cannot write the input file");
    std::fclose(f);

    const QByteArray body = bytes.startsWith("\xEF\xBB\xBF") ? bytes.mid(3) : bytes;
    const bool utf8 = platform::ValidUtf8Prefix(body.constData(), body.size(), false) == body.size();
    std::optional<QString> text;
    try {
        text = LoadScriptFile(files.opened);
    } catch (const EScriptFileError&) {
    }
    Check(text.has_value() == utf8, "a script file is read exactly when it is UTF-8");
    if (!text)
        return;
    Check(text->toUtf8() == body, "the text read is not the text the bytes encode", *text);

    // Open, save, open again: what the window does with its editor text.
    const QString shown = EditorText(*text);
    SaveScriptFile(files.saved, shown);
    const QByteArray written = ReadAll(files.saved);
    Check(written == ScriptFileBytes(shown), "the saved file holds other bytes than a save writes", shown);
    const QString reopened = LoadScriptFile(files.saved);
    Check(SplitSavedLines(reopened) == SplitSavedLines(shown), "the saved lines read back otherwise", shown);
    // Every saved line ends with CR LF, so the reopened text gains a final break
    // when its last line is not empty, but no line changes.
    QString lines;
    for (const QString& line : SplitSavedLines(shown))
        lines += line + QStringLiteral("\r\n");
    Check(EditorText(reopened) == EditorText(lines), "a saved script opens as another editor text", shown);
    Check(ScriptFileBytes(reopened) == written, "saving the reopened text writes other bytes", shown);
}

void CheckBufferReader(const QByteArray& bytes, std::optional<TEncoding> encoding)
{
    TLineBuffer b;
    editor::TTextLoader loader;
    QBuffer in;
    in.setData(bytes);
    in.open(QIODevice::ReadOnly);
    try {
        loader.LoadFromStream(b, in, encoding);
    } catch (const editor::EEncodingError&) {
        return;
    }
    const QString loaded = b.GetText();
    const QString detail = QStringLiteral("read as %1, asked %2:\n").arg(int(loader.Encoding())).arg(encoding ? int(*encoding) : -1)
        + loaded;
    QBuffer out;
    out.open(QIODevice::WriteOnly);
    Check(loader.SaveToStream(b, out), "saving in the encoding just read was refused", detail);
    TLineBuffer again;
    editor::TTextLoader againLoader;
    QBuffer back;
    back.setData(out.data());
    back.open(QIODevice::ReadOnly);
    againLoader.LoadFromStream(again, back, encoding);
    Check(again.GetText() == loaded, "the buffer's saved text reads back otherwise", detail);
    Check(againLoader.Encoding() == loader.Encoding() && againLoader.WriteBOM() == loader.WriteBOM(),
          "the buffer's saved text reads back in another encoding", detail);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    static Files files;
    const QByteArray bytes(reinterpret_cast<const char*>(data), qsizetype(size));
    CheckApplicationReader(files, bytes);
    CheckBufferReader(bytes, std::nullopt);
    for (TEncoding e : {TEncoding::ANSI, TEncoding::UTF8, TEncoding::Unicode, TEncoding::BigEndianUnicode})
        CheckBufferReader(bytes, e);
    return 0;
}
