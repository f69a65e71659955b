#include "RegistryErrors.h"
#include "TempStore.h"
#include "platform/Dialogs.h"
#include "platform/Process.h"
#include "platform/Registry.h"

#include <QDateTime>
#include <QDir>
#include <QFile>

#include <gtest/gtest.h>

#include <unistd.h>

using namespace platform;

namespace {

QByteArray ReadFile(const QString& path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

void WriteFile(const QString& path, const QByteArray& bytes)
{
    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    ASSERT_EQ(f.write(bytes), bytes.size());
}

// Collects the damage reports made while it lives.
struct DamageLog {
    DamageLog() : previous(Registry::SetDamageHandler([this](const TRegistryDamage& d) { reports << d; })) {}
    ~DamageLog() { Registry::SetDamageHandler(previous); }
    QList<TRegistryDamage> reports;
    Registry::TDamageHandler previous;
};

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

TEST(Registry, DamagedKeyFileIsSetAsideOnceAndTheKeyStartsAfresh)
{
    const QByteArray header("QUORBEL-REGISTRY 1\n");
    const struct {
        const char* kind;
        QByteArray bytes;
        bool unreadable = false;
    } damages[] = {
        {"malformed text", header + "\"v\"=sz:\"open\n"},
        {"bad escape", header + "\"v\"=sz:\"\\q\"\n"},
        {"binary garbage", QByteArray("\x7f" "ELF\x00\xff\xfe\x01", 8)},
        {"unreadable", header + "\"v\"=sz:\"x\"\n", true},
        {"over 1 MiB", header + "\"v\"=sz:\"" + QByteArray(1 << 20, 'a') + "\"\n"}, // well-formed all the same
        {"empty", QByteArray()},
    };
    for (const auto& damage : damages)
        for (const bool writeFirst : {false, true}) {
            SCOPED_TRACE(std::string(damage.kind) + (writeFirst ? ", write first" : ", read first"));
            if (damage.unreadable && geteuid() == 0)
                continue; // root reads files regardless of their permissions
            TempStore store;
            DamageLog log;
            Registry reg;
            ASSERT_TRUE(reg.OpenKey(QStringLiteral("\\K"), true));
            const QString file = store.UserRoot() + QStringLiteral("/K/values.reg");
            WriteFile(file, damage.bytes);
            if (damage.unreadable) {
                ASSERT_TRUE(QFile::setPermissions(file, {}));
            }
            // Names set aside earlier in this second and the next are taken: kept, and skipped.
            const QDateTime now = QDateTime::currentDateTime();
            QStringList taken;
            for (const QDateTime& t : {now, now.addSecs(1)}) {
                taken << file + QStringLiteral(".damaged-") + t.toString(QStringLiteral("yyyyMMdd-HHmmss"));
                WriteFile(taken.last(), "earlier");
            }

            if (writeFirst)
                reg.WriteString(QStringLiteral("w"), QStringLiteral("1"));
            else
                EXPECT_EQ(reg.ReadString(QStringLiteral("v")), QString());

            ASSERT_EQ(log.reports.size(), 1);
            const TRegistryDamage report = log.reports.first();
            EXPECT_EQ(report.file, file);
            EXPECT_TRUE(report.setAsideAs == taken[0] + QStringLiteral("-2")
                        || report.setAsideAs == taken[1] + QStringLiteral("-2"))
                << report.setAsideAs.toStdString();
            EXPECT_FALSE(report.reason.isEmpty());
            QFile::setPermissions(report.setAsideAs, QFile::ReadOwner | QFile::WriteOwner);
            EXPECT_EQ(ReadFile(report.setAsideAs), damage.bytes);
            for (const QString& name : taken)
                EXPECT_EQ(ReadFile(name), "earlier");

            reg.WriteString(QStringLiteral("v"), QStringLiteral("fresh"));
            EXPECT_EQ(reg.ReadString(QStringLiteral("v")), QStringLiteral("fresh"));
            EXPECT_EQ(reg.GetValueNames().size(), writeFirst ? 2 : 1);
            EXPECT_EQ(log.reports.size(), 1);
        }
}

TEST(Registry, DamageMessageNamesBothPathsAndGoesToStandardErrorWithoutAHandler)
{
    const TRegistryDamage damage{QStringLiteral("/c/K/values.reg"),
                                 QStringLiteral("/c/K/values.reg.damaged-20240102-030405"),
                                 QStringLiteral("形式が正しくありません")};
    const QString expected = QStringLiteral("設定ファイル \"/c/K/values.reg\" を読み込めませんでした（形式が正しくありません）。"
                                            "\"/c/K/values.reg.damaged-20240102-030405\" に移して、新しい設定で続けます。");
    EXPECT_EQ(DamageMessage(damage), expected);

    TempStore store;
    const Registry::TDamageHandler previous = Registry::SetDamageHandler(nullptr);
    Registry reg;
    ASSERT_TRUE(reg.OpenKey(QStringLiteral("\\K"), true));
    WriteFile(store.UserRoot() + QStringLiteral("/K/values.reg"), "junk");
    testing::internal::CaptureStderr();
    EXPECT_FALSE(reg.ValueExists(QStringLiteral("v")));
    const QString printed = QString::fromStdString(testing::internal::GetCapturedStderr());
    Registry::SetDamageHandler(previous);
    EXPECT_TRUE(printed.startsWith(QStringLiteral("設定ファイル \"") + store.UserRoot() + QStringLiteral("/K/values.reg\"")))
        << printed.toStdString();
}

TEST(Registry, DamageThatCannotBeSetAsideIsAnErrorNamingTheFile)
{
    TempStore store;
    DamageLog log;
    // The machine-wide hive is never changed: its damaged file stays where it is.
    const QString machineFile = store.MachineRoot() + QStringLiteral("/Software/Python/values.reg");
    ASSERT_TRUE(QDir().mkpath(store.MachineRoot() + QStringLiteral("/Software/Python")));
    WriteFile(machineFile, "junk");
    Registry machine(HKEY_LOCAL_MACHINE);
    ASSERT_TRUE(machine.OpenKey(QStringLiteral("\\Software\\Python"), false));
    for (int i = 0; i < 2; ++i)
        EXPECT_EQ(ErrorOf([&] { machine.ReadString(QStringLiteral("v")); }),
                  QStringLiteral("'v' の取得に失敗しました（設定ファイル \"%1\": 形式が正しくありません）").arg(machineFile));
    EXPECT_EQ(QDir(store.MachineRoot() + QStringLiteral("/Software/Python")).entryList(QDir::Files).size(), 1);

    // A per-user key whose folder may not be changed.
    if (geteuid() != 0) { // root writes regardless of permissions
        Registry reg;
        ASSERT_TRUE(reg.OpenKey(QStringLiteral("\\K"), true));
        const QString folder = store.UserRoot() + QStringLiteral("/K");
        WriteFile(folder + QStringLiteral("/values.reg"), "junk");
        ASSERT_TRUE(QFile::setPermissions(folder, QFile::ReadOwner | QFile::ExeOwner));
        const QString read = ErrorOf([&] { reg.ReadString(QStringLiteral("v")); });
        const QString write = ErrorOf([&] { reg.WriteString(QStringLiteral("v"), QStringLiteral("x")); });
        QFile::setPermissions(folder, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
        EXPECT_TRUE(read.startsWith(QStringLiteral("'v' の取得に失敗しました（設定ファイル \"") + folder)) << read.toStdString();
        EXPECT_TRUE(write.startsWith(QStringLiteral("'v' の設定に失敗しました（設定ファイル \"") + folder)) << write.toStdString();
        EXPECT_EQ(ReadFile(folder + QStringLiteral("/values.reg")), "junk");
    }
    EXPECT_TRUE(log.reports.isEmpty());
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
