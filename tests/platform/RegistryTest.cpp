#include "TempStore.h"
#include "platform/Dialogs.h"
#include "platform/Process.h"
#include "platform/Registry.h"

#include <QDir>
#include <QFile>

#include <gtest/gtest.h>

using namespace platform;

namespace {

QByteArray ReadFile(const QString& path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

} // namespace

TEST(Registry, TypedValuesRoundTripThroughTheKeyFile)
{
    TempStore store;
    Registry reg;
    ASSERT_TRUE(reg.OpenKey(QStringLiteral("\\Software\\Test"), true));
    const QString awkward = QString::fromUtf16(u"a\r\nb\t\"q\"\\ \x01 日本 ") + QChar(0xD800) + u'z';
    reg.WriteString(QStringLiteral("text"), awkward);
    reg.WriteExpandString(QStringLiteral("path"), QStringLiteral("%HOME%/x"));
    reg.WriteInteger(QStringLiteral("count"), -7);
    reg.WriteBinaryData(QStringLiteral("blob"), QByteArray("\x00\xff\x10", 3));
    reg.WriteString(QString(), QStringLiteral("default"));

    Registry again;
    ASSERT_TRUE(again.OpenKey(QStringLiteral("\\SOFTWARE\\test"), false)); // key names ignore case
    EXPECT_EQ(again.ReadString(QStringLiteral("TEXT")), awkward);
    EXPECT_EQ(again.GetDataType(QStringLiteral("path")), RegDataType::rdExpandString);
    EXPECT_EQ(again.ReadString(QStringLiteral("path")), QStringLiteral("%HOME%/x"));
    EXPECT_EQ(again.ReadInteger(QStringLiteral("count")), -7);
    EXPECT_EQ(again.ReadBinaryData(QStringLiteral("blob")), QByteArray("\x00\xff\x10", 3));
    EXPECT_EQ(again.ReadString(QString()), QStringLiteral("default"));
    EXPECT_EQ(again.ReadString(QStringLiteral("missing")), QString());
    EXPECT_EQ(again.GetValueNames().size(), 5);

    // Overwriting keeps one value; deleting removes it.
    again.WriteString(QStringLiteral("Text"), QStringLiteral("new"));
    EXPECT_EQ(again.GetValueNames().size(), 5);
    EXPECT_TRUE(again.DeleteValue(QStringLiteral("text")));
    EXPECT_FALSE(again.DeleteValue(QStringLiteral("text")));
    EXPECT_FALSE(again.ValueExists(QStringLiteral("text")));
}

TEST(Registry, WrongTypesAndMissingValuesAreErrors)
{
    TempStore store;
    Registry reg;
    ASSERT_TRUE(reg.OpenKey(QStringLiteral("\\K"), true));
    reg.WriteInteger(QStringLiteral("n"), 1);
    try {
        reg.ReadString(QStringLiteral("n"));
        FAIL();
    } catch (const ERegistryException& e) {
        EXPECT_EQ(e.Message(), QStringLiteral("'n' のデータ型が不正です"));
    }
    try {
        reg.ReadInteger(QStringLiteral("none"));
        FAIL();
    } catch (const ERegistryException& e) {
        EXPECT_EQ(e.Message(), QStringLiteral("'none' の取得に失敗しました"));
    }
}

TEST(Registry, DamagedKeyFileIsReportedAndNeverOverwritten)
{
    TempStore store;
    Registry reg;
    ASSERT_TRUE(reg.OpenKey(QStringLiteral("\\K"), true));
    reg.WriteString(QStringLiteral("v"), QStringLiteral("x"));
    const QString file = store.UserRoot() + QStringLiteral("/K/values.reg");
    ASSERT_TRUE(QFile::exists(file));
    for (const QByteArray& junk : {QByteArray("garbage"), QByteArray("QUORBEL-REGISTRY 1\n\"v\"=sz:\"open"),
                                   QByteArray("QUORBEL-REGISTRY 1\n\"v\"=sz:\"\\q\""), QByteArray("QUORBEL-REGISTRY 1\n\xff\n")}) {
        {
            QFile f(file);
            ASSERT_TRUE(f.open(QIODevice::WriteOnly));
            f.write(junk);
        }
        EXPECT_THROW(reg.ReadString(QStringLiteral("v")), ERegistryException);
        EXPECT_THROW(reg.ValueExists(QStringLiteral("v")), ERegistryException);
        try {
            reg.WriteString(QStringLiteral("v"), QStringLiteral("y"));
            FAIL();
        } catch (const ERegistryException& e) {
            EXPECT_EQ(e.Message(), QStringLiteral("'v' の設定に失敗しました"));
        }
        EXPECT_FALSE(reg.DeleteValue(QStringLiteral("v")));
        EXPECT_EQ(ReadFile(file), junk);
    }
}

TEST(Registry, MachineHiveIsReadOnly)
{
    TempStore store;
    ASSERT_TRUE(QDir().mkpath(store.MachineRoot() + QStringLiteral("/Software/Python")));
    Registry reg(HKEY_LOCAL_MACHINE);
    EXPECT_FALSE(reg.OpenKey(QStringLiteral("\\Software\\New"), true));
    ASSERT_TRUE(reg.OpenKey(QStringLiteral("\\software\\python"), true));
    EXPECT_THROW(reg.WriteString(QStringLiteral("v"), QStringLiteral("x")), ERegistryException);
    EXPECT_THROW(reg.CreateKey(QStringLiteral("Sub")), ERegistryException);
}

TEST(Registry, KeysNestRelativeToTheCurrentKeyAndKeepOddNames)
{
    TempStore store;
    Registry reg;
    ASSERT_TRUE(reg.OpenKey(QStringLiteral("\\A"), true));
    ASSERT_TRUE(reg.OpenKey(QStringLiteral("b/c\\.."), true)); // relative, with odd names
    EXPECT_EQ(reg.CurrentPath(), QStringLiteral("A\\b/c\\.."));
    reg.WriteInteger(QStringLiteral("n"), 3);
    reg.CloseKey();
    EXPECT_TRUE(reg.KeyExists(QStringLiteral("\\a\\B/C\\..")));
    ASSERT_TRUE(reg.OpenKey(QStringLiteral("\\A"), false));
    EXPECT_EQ(reg.GetKeyNames(), QStringList{QStringLiteral("b/c")});
    EXPECT_FALSE(reg.OpenKey(QStringLiteral("\\Nope"), false));
    EXPECT_TRUE(reg.DeleteKey(QStringLiteral("\\A")));
    EXPECT_FALSE(reg.KeyExists(QStringLiteral("\\A")));
    // Nothing escaped the store folder.
    EXPECT_TRUE(QDir(store.UserRoot()).entryList(QDir::NoDotAndDotDot | QDir::AllEntries).isEmpty());
}

TEST(Registry, KeyThatCannotBeCreatedIsReported)
{
    TempStore store;
    ASSERT_TRUE(QDir().mkpath(store.UserRoot()));
    QFile blocker(store.UserRoot() + QStringLiteral("/Blocked"));
    ASSERT_TRUE(blocker.open(QIODevice::WriteOnly));
    blocker.close();
    Registry reg;
    EXPECT_FALSE(reg.OpenKey(QStringLiteral("\\Blocked\\Sub"), true));
    try {
        reg.CreateKey(QStringLiteral("\\Blocked\\Sub"));
        FAIL();
    } catch (const ERegistryException& e) {
        EXPECT_EQ(e.Message(), QStringLiteral("キー \\Blocked\\Sub の作成に失敗しました"));
    }
}

TEST(Platform, DialogHelpersAndProcessFacts)
{
    EXPECT_EQ(ApplyDefaultExt(QStringLiteral("/t/conv"), QStringLiteral("py")), QStringLiteral("/t/conv.py"));
    EXPECT_EQ(ApplyDefaultExt(QStringLiteral("/t/conv"), QStringLiteral(".py")), QStringLiteral("/t/conv.py"));
    EXPECT_EQ(ApplyDefaultExt(QStringLiteral("/t/conv.txt"), QStringLiteral("py")), QStringLiteral("/t/conv.txt"));
    EXPECT_EQ(ToQtFilter(QStringLiteral("Python(*.py)|*.py|すべてのファイル (*.*)|*.*")),
              QStringLiteral("Python(*.py);;すべてのファイル (*.*)"));
    EXPECT_EQ(ToQtFilter(QStringLiteral("Scripts|*.py;*.pyw|Broken")), QStringLiteral("Scripts (*.py *.pyw)"));
    EXPECT_EQ(ApplicationTitleOf(QStringLiteral("/usr/bin/quorbel")), QStringLiteral("quorbel"));
    EXPECT_EQ(ApplicationTitleOf(QStringLiteral("/a.b/tool.x.y")), QStringLiteral("tool"));
    EXPECT_TRUE(IsMainThread());
    EXPECT_EQ(FromAnsi(ToAnsi(QStringLiteral("日本"))), QStringLiteral("日本"));
    EXPECT_EQ(Format(QStringLiteral("%s は %d%%"), {QStringLiteral("x"), QStringLiteral("5")}), QStringLiteral("x は 5%"));
}
