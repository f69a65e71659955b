#include "app/ScriptFile.h"
#include "editor/LineBuffer.h"
#include "editor/TextLoader.h"
#include "platform/FileIO.h"
#include "platform/TextLines.h"

#include <QBuffer>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <cstring>

#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

namespace {

QString Write(const QTemporaryDir& dir, const QByteArray& bytes)
{
    const QString path = dir.filePath(QStringLiteral("s.py"));
    QFile f(path);
    f.open(QIODevice::WriteOnly);
    f.write(bytes);
    return path;
}

QByteArray ReadAll(const QString& path)
{
    QFile f(path);
    f.open(QIODevice::ReadOnly);
    return f.readAll();
}

} // namespace

TEST(LoadScriptFile, ByteOrderMarkCharacterAfterTheFileMarkIsKept)
{
    // Found by fuzzing: a U+FEFF that begins the text itself was dropped, so
    // a save wrote a file without it.
    QTemporaryDir dir;
    const QByteArray twoMarks("\xEF\xBB\xBF\xEF\xBB\xBFx\r\n");
    const QString text = LoadScriptFile(Write(dir, twoMarks));
    EXPECT_EQ(text, QString(QChar(0xFEFF)) + "x\r\n");
    EXPECT_EQ(ScriptFileBytes(text), twoMarks);
    // Without the file's mark the first U+FEFF still is the mark.
    EXPECT_EQ(LoadScriptFile(Write(dir, "\xEF\xBB\xBFx")), "x");
}

TEST(LoadScriptFile, ReadsExactlyTheUtf8Files)
{
    QTemporaryDir dir;
    EXPECT_EQ(LoadScriptFile(Write(dir, "a\rb\nc")), "a\rb\nc");
    for (const QByteArray& broken : {QByteArray("abc\xE6\x97"), QByteArray("\xED\xA0\x80"), QByteArray("\xC0\xAF"),
             QByteArray("\xF4\x90\x80\x80"), QByteArray("\xEF\xBB\xBF\xFF")})
        EXPECT_THROW(LoadScriptFile(Write(dir, broken)), EScriptFileError) << broken.toHex().constData();
}

namespace {

QStringList BufferLines(const QByteArray& bytes)
{
    editor::TLineBuffer b;
    QByteArray copy = bytes;
    QBuffer dev(&copy);
    dev.open(QIODevice::ReadOnly);
    editor::TTextLoader().LoadFromStream(b, dev);
    QStringList lines;
    for (int i = 0; i < b.Count(); ++i)
        lines << b.Get(i);
    return lines;
}

} // namespace

TEST(ScriptFileAndLineBuffer, ReadEachOthersFilesAsTheSameLines)
{
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("s.py"));
    const QStringList texts = {QString(), "x", "a\r\nb", "a\rb\nc\r\n", "\n\r\n\r", QString::fromUtf16(u"\uFEFFé\r\n\U0001F600\t")};
    for (const QString& text : texts) {
        // The document writes, the buffer reads: the buffer shows one more,
        // empty line after the break that ends every saved line.
        SaveScriptFile(path, text);
        QStringList expected = SplitSavedLines(text);
        if (!expected.isEmpty())
            expected << QString();
        EXPECT_EQ(BufferLines(ReadAll(path)), expected) << text.toUtf8().toHex().constData();

        // The buffer writes in each of its line-break styles, the document reads.
        for (editor::TTextFileFormat format : {editor::sffDos, editor::sffUnix, editor::sffMac}) {
            editor::TLineBuffer b;
            editor::TTextLoader loader;
            b.SetText(text);
            loader.SetFileFormat(format);
            loader.SetWriteBOM(true);
            loader.SetEncoding(editor::TEncoding::UTF8);
            QFile out(path);
            ASSERT_TRUE(out.open(QIODevice::WriteOnly | QIODevice::Truncate));
            ASSERT_TRUE(loader.SaveToStream(b, out));
            out.close();
            const QString read = LoadScriptFile(path);
            EXPECT_EQ(platform::SplitLines(read, platform::kCrLfBreaks, platform::TFinalBreak::StartsEmptyLine),
                platform::SplitLines(text, platform::kCrLfBreaks, platform::TFinalBreak::StartsEmptyLine))
                << int(format) << " " << text.toUtf8().toHex().constData();
            EXPECT_EQ(read.isEmpty(), b.Count() == 0);
        }
    }
}

TEST(SaveScriptFile, LoneSurrogateIsRefusedAndTheOldFileKept)
{
    // A lone surrogate has no UTF-8 form; it was written as a replacement
    // character, so the saved script silently differed from the one shown.
    QTemporaryDir dir;
    const QString path = Write(dir, "old\r\n");
    EXPECT_THROW(SaveScriptFile(path, QString("x") + QChar(0xD800)), EScriptFileError);
    EXPECT_EQ(ReadAll(path), "old\r\n");
}

namespace {

// How ReadRegularFile, with the editor's limit, refuses path; "read" when it does not.
QString RefusalOf(const QString& path)
{
    try {
        platform::ReadRegularFile(path, platform::EditableFileLimit());
    } catch (const platform::ENotRegularFile& e) {
        return QStringLiteral("not regular: ") + e.Message();
    } catch (const platform::EFileTooLarge& e) {
        return QStringLiteral("too large: ") + e.Message();
    } catch (const platform::Exception& e) {
        return QStringLiteral("other: ") + e.Message();
    }
    return QStringLiteral("read");
}

void MakeSocket(const QString& path)
{
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    const QByteArray name = QFile::encodeName(path);
    ASSERT_LT(size_t(name.size()), sizeof address.sun_path);
    std::memcpy(address.sun_path, name.constData(), size_t(name.size()));
    const int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
    ASSERT_GE(fd, 0);
    EXPECT_EQ(::bind(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address), 0);
    ::close(fd);
}

} // namespace

TEST(LoadScriptFile, RefusesWhatIsNotARegularFileBeforeReadingAByte)
{
    // A pipe blocked the open for ever, and /dev/zero was read until memory ran out.
    QTemporaryDir dir;
    const QString fifo = dir.filePath(QStringLiteral("fifo")), socket = dir.filePath(QStringLiteral("socket"));
    const QString folder = dir.filePath(QStringLiteral("folder")), huge = dir.filePath(QStringLiteral("huge.py"));
    ASSERT_EQ(::mkfifo(QFile::encodeName(fifo).constData(), 0600), 0);
    MakeSocket(socket);
    ASSERT_TRUE(QDir().mkpath(folder));
    QFile sparse(huge);
    ASSERT_TRUE(sparse.open(QIODevice::WriteOnly) && sparse.resize((qint64(1) << 30) + 1)); // no disk used
    sparse.close();

    const struct {
        QString path, refusal;
    } cases[] = {
        {fifo, QStringLiteral("not regular: 通常のファイルではありません（名前付きパイプ）")},
        {QStringLiteral("/dev/zero"), QStringLiteral("not regular: 通常のファイルではありません（デバイス）")},
        {socket, QStringLiteral("not regular: 通常のファイルではありません（ソケット）")},
        {folder, QStringLiteral("not regular: 通常のファイルではありません（フォルダー）")},
        // The limit is less than 1 GiB when less memory is free.
        {huge, QStringLiteral("too large: ファイルが大きすぎます（1,073,741,825 バイト。開けるのは ")},
    };
    for (const auto& c : cases) {
        const QString refusal = RefusalOf(c.path);
        EXPECT_TRUE(refusal.startsWith(c.refusal)) << refusal.toStdString();
        const QString reason = refusal.mid(refusal.indexOf(u':') + 2);
        try {
            LoadScriptFile(c.path);
            ADD_FAILURE() << "read " << c.path.toStdString();
        } catch (const EScriptFileError& e) {
            EXPECT_EQ(e.Message(), QStringLiteral("ファイル \"%1\" を開けません。%2").arg(QFileInfo(c.path).absoluteFilePath(), reason));
        }
    }

    const QString script = Write(dir, "print(1)\r\n"), link = dir.filePath(QStringLiteral("link.py"));
    ASSERT_TRUE(QFile::link(script, link));
    EXPECT_EQ(LoadScriptFile(script), "print(1)\r\n");
    EXPECT_EQ(LoadScriptFile(link), "print(1)\r\n");
}
