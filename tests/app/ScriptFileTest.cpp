#include "app/ScriptFile.h"

#include <QFile>
#include <QTemporaryDir>
#include <gtest/gtest.h>

namespace {

QString Write(const QTemporaryDir& dir, const QByteArray& bytes)
{
    const QString path = dir.filePath(QStringLiteral("s.py"));
    QFile f(path);
    f.open(QIODevice::WriteOnly);
    f.write(bytes);
    return path;
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
