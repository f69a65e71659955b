#include "RegistryErrors.h"
#include "TempStore.h"
#include "history/OpnFilHs.h"
#include "platform/Registry.h"

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QDir>
#include <QEvent>
#include <QFile>
#include <QFileInfo>
#include <QMenu>
#include <QTest>

#include <unistd.h>

using platform::ERegistryException;
using platform::Registry;

namespace {

const QString kStoreKey = QStringLiteral("\\Software\\OpnFilHs\\OFH");
const QString kName = QStringLiteral("Quorbel");

Registry StoreKey()
{
    Registry reg;
    EXPECT_TRUE(reg.OpenKey(kStoreKey, true));
    return reg;
}

QStringList Texts(const QList<QAction*>& actions)
{
    QStringList texts;
    for (QAction* a : actions)
        texts << a->text();
    return texts;
}

class History : public ::testing::Test {
protected:
    void SetUp() override
    {
        recent = fileMenu.addMenu(QStringLiteral("最近使ったファイル"))->menuAction();
        recent->setEnabled(false);
        h = New();
    }
    TOpenFileHistories* New()
    {
        auto* c = new TOpenFileHistories(&owner);
        c->SelfKeyName = kName;
        c->SetSubFileItem(recent);
        return c;
    }
    void Store(const QString& text) { StoreKey().WriteString(kName, text); }
    QString Stored() { return StoreKey().ReadString(kName); }
    QString ValuesFile() const { return store.UserRoot() + QStringLiteral("/Software/OpnFilHs/OFH/values.reg"); }
    QList<QAction*> Recent() const { return recent->menu()->actions(); }

    TempStore store;
    QObject owner;
    QMenu fileMenu;
    QAction* recent = nullptr;
    TOpenFileHistories* h = nullptr;
};

TEST(HistoryHelpers, FolderOfAndAccelPrefix)
{
    const std::pair<const char*, const char*> folders[] = {
        {"C:\\work\\a.py", "C:\\work"}, {"C:\\a.py", "C:\\"}, {"a.py", ""},        {"C:a.py", "C:"},
        {"/home/u/a.py", "/home/u"},     {"/a.py", "/"},       {"a\\\\b.py", "a\\\\"}, {"/home/u/a:b.py", "/home/u"},
        {"\\\\srv\\share\\a.py", "\\\\srv\\share"},            {"", ""}};
    for (auto [path, folder] : folders)
        EXPECT_EQ(FolderOf(QString::fromUtf8(path)), QString::fromUtf8(folder)) << path;
    EXPECT_EQ(AccelPrefix(0), "&0 ");
    EXPECT_EQ(AccelPrefix(9), "&9 ");
    EXPECT_EQ(AccelPrefix(10), "&A ");
    EXPECT_EQ(AccelPrefix(35), "&Z ");
    EXPECT_EQ(AccelPrefix(36), "");
    EXPECT_EQ(AccelPrefix(-1), "");
}

TEST_F(History, FirstUpDateWithoutStoredValueWritesNothing)
{
    h->UpDate();
    EXPECT_TRUE(h->List().isEmpty());
    EXPECT_TRUE(Recent().isEmpty());
    EXPECT_FALSE(recent->isEnabled());
    EXPECT_FALSE(QFile::exists(ValuesFile()));
}

TEST_F(History, MergeKeepsRunAdditionsFirstAndTakesNewLetterCase)
{
    Store("c:\\A.PY\r\nC:\\b.py\r\n");
    h->UpDate();
    h->AddHistory("C:\\x.py");
    h->AddHistory("C:\\a.py");
    h->AddHistory("c:\\X.py");
    EXPECT_EQ(*h->NewHistoryList(), QStringList({"c:\\X.py", "C:\\a.py"}));
    h->UpDate();
    h->UpDate(); // merging the same additions again changes nothing
    EXPECT_EQ(Stored(), "c:\\X.py\r\nC:\\a.py\r\nC:\\b.py\r\n");
    EXPECT_EQ(Texts(Recent()), QStringList({"&0 c:\\X.py", "&1 C:\\a.py", "&2 C:\\b.py"}));
    EXPECT_TRUE(recent->isEnabled());
}

TEST_F(History, TrimsToMaxHistory)
{
    QString text;
    for (int i = 0; i < 10; ++i)
        text += QStringLiteral("/f%1\r\n").arg(i);
    Store(text);
    h->UpDate();
    h->AddHistory("/new");
    h->UpDate();
    EXPECT_EQ(h->List().size(), 10);
    EXPECT_EQ(h->List().first(), "/new");
    EXPECT_EQ(h->List().last(), "/f8");

    for (int i = 0; i < 12; ++i)
        h->AddHistory(QStringLiteral("/g%1").arg(i));
    h->UpDate();
    EXPECT_EQ(h->NewHistoryList()->size(), 13);
    EXPECT_EQ(h->List(), h->NewHistoryList()->mid(0, 10));
    EXPECT_EQ(Recent().size(), 10);

    h->SetMaxHistory(-3); // must not loop or index out of range
    EXPECT_EQ(h->MaxHistory(), 0);
    h->SetMaxHistory(0);
    h->UpDate();
    EXPECT_TRUE(StoreKey().ValueExists(kName));
    EXPECT_EQ(Stored(), "");
    EXPECT_TRUE(Recent().isEmpty());
}

TEST_F(History, AcceleratorsRunOutAfterZ)
{
    h->SetMaxHistory(40);
    for (int i = 39; i >= 0; --i)
        h->AddHistory(QStringLiteral("/p%1").arg(i));
    h->AddHistory("/R&D/a.py");
    h->UpDate();
    const QList<QAction*> items = Recent();
    ASSERT_EQ(items.size(), 40);
    EXPECT_EQ(items[0]->text(), "&0 /R&&D/a.py");
    EXPECT_EQ(items[9]->text(), "&9 /p8");
    EXPECT_EQ(items[10]->text(), "&A /p9");
    EXPECT_EQ(items[35]->text(), "&Z /p34");
    EXPECT_EQ(items[36]->text(), "/p35");
    EXPECT_EQ(items[39]->data().toInt(), 39);
    EXPECT_EQ(items[39]->parent(), &owner);
}

TEST_F(History, SplitsStoredValueAtEveryLineBreak)
{
    const std::pair<const char*, QStringList> cases[] = {
        {"a\r\nb\r\n", {"a", "b"}}, {"a\r\n\r\nb", {"a", "", "b"}}, {"a\rb\nc", {"a", "b", "c"}},
        {"a\n\rb", {"a", "", "b"}}, {"\r\n", {""}},                   {"", {}}};
    for (const auto& [text, lines] : cases) {
        Store(text);
        h->UpDate();
        EXPECT_EQ(h->List(), lines) << text;
        EXPECT_EQ(Recent().size(), lines.size()) << text;
    }
}

TEST_F(History, RebuildLeavesExactlyOneItemPerEntry)
{
    Store("/a\r\n/b\r\n/c\r\n");
    h->UpDate();
    h->UpDate();
    h->GetHistories(QString()); // on its own, too
    h->AddHistory("/d");
    h->UpDate();
    EXPECT_EQ(Recent().size(), 4);
    EXPECT_EQ(h->Items(), Recent());
    EXPECT_EQ(owner.findChildren<QAction*>().size(), 4);

    delete Recent().at(1); // the owner may destroy an item itself
    EXPECT_EQ(h->Items().size(), 3);
    Store("");
    h->GetHistories(QString());
    EXPECT_TRUE(Recent().isEmpty());
    EXPECT_TRUE(owner.findChildren<QAction*>().isEmpty());
}

TEST_F(History, UpItemsGoAfterTheirMarker)
{
    QAction* open = fileMenu.addAction("Open");
    QAction* marker = fileMenu.addSeparator();
    QAction* exit = fileMenu.addAction("Exit");
    marker->setVisible(false);
    h->SetUpFileItem(marker);
    EXPECT_EQ(h->SubFileItem(), nullptr);
    Store("/w/a.py\r\n/x/b.py\r\n/W/c.py\r\n");
    h->UpDate();
    QList<QAction*> actions = fileMenu.actions();
    ASSERT_EQ(actions.size(), 7);
    EXPECT_EQ(actions[1], open);
    EXPECT_EQ(actions[2], marker);
    EXPECT_EQ(Texts(actions.mid(3, 3)), QStringList({"&0 /w/a.py", "&1 /x/b.py", "&2 /W/c.py"}));
    EXPECT_EQ(actions[6], exit);
    EXPECT_TRUE(marker->isVisible());

    // Folder items: one per folder (letter case ignored), tagged with its newest file.
    QMenu folderMenu, bar;
    QAction* subFolder = folderMenu.menuAction();
    h->SetSubFolderItem(subFolder);
    h->UpDate();
    EXPECT_EQ(Texts(folderMenu.actions()), QStringList({"&0 /w", "&1 /x"}));
    EXPECT_EQ(folderMenu.actions()[1]->data().toInt(), 1);
    QAction* upFolder = bar.addAction("marker");
    h->SetUpFolderItem(upFolder);
    EXPECT_EQ(h->SubFolderItem(), nullptr);
    h->UpDate();
    EXPECT_TRUE(folderMenu.actions().isEmpty());
    EXPECT_EQ(Texts(bar.actions()), QStringList({"marker", "&0 /w", "&1 /x"}));
    EXPECT_EQ(fileMenu.actions().size(), 7);

    delete marker; // the reference follows the item's destruction
    EXPECT_EQ(h->UpFileItem(), nullptr);
    h->SetSubFileItem(new QAction("no submenu", &owner));
    h->UpDate();
    EXPECT_EQ(h->Items().size(), 2);
}

TEST_F(History, ClicksRaiseEventsWithPathOrFolder)
{
    QMenu folderMenu;
    h->SetSubFolderItem(folderMenu.menuAction());
    Store("/w/a.py\r\n/x/b.py\r\n");
    h->UpDate();
    Recent().at(1)->trigger(); // no handler: nothing happens

    QObject* sender = nullptr;
    QString got;
    h->OnOpenFile = [&](QObject* s, const QString& f) { sender = s, got = f; };
    h->OnOpenDialog = [&](QObject* s, const QString& d) { sender = s, got = "dir " + d; };
    Recent().at(1)->trigger();
    EXPECT_EQ(sender, Recent().at(1));
    EXPECT_EQ(got, "/x/b.py");
    folderMenu.actions().at(0)->trigger();
    EXPECT_EQ(sender, folderMenu.actions().at(0));
    EXPECT_EQ(got, "dir /w");

    // A merge without rebuild must not make the shown items open other files.
    h->AddHistory("/y/c.py");
    h->SetMaxHistory(1);
    h->SaveHistories(QString());
    Recent().at(1)->trigger();
    EXPECT_EQ(got, "/x/b.py");

    // The owner's usual handler records the file and rebuilds the menu it was clicked in.
    h->SetMaxHistory(10);
    h->OnOpenFile = [&](QObject*, const QString& f) { h->AddHistory(f), h->UpDate(); };
    // Clicked in a real menu chain: the File menu then reports the clicked item, which must still be alive.
    QString reported;
    QObject::connect(&fileMenu, &QMenu::triggered, &fileMenu, [&](QAction* a) { reported = a->text(); });
    fileMenu.popup(QPoint(0, 0));
    fileMenu.setActiveAction(recent);
    ASSERT_TRUE(recent->menu()->isVisible());
    recent->menu()->setActiveAction(Recent().at(0));
    QTest::keyClick(recent->menu(), Qt::Key_Return);
    EXPECT_EQ(reported, "&0 /w/a.py");
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    EXPECT_EQ(Texts(Recent()), QStringList({"&0 /w/a.py", "&1 /y/c.py"}));
}

TEST_F(History, RegistryErrorsReachTheCaller)
{
    // A plain file where the subkey's folder belongs.
    ASSERT_TRUE(QDir().mkpath(store.UserRoot() + "/Software/OpnFilHs"));
    QFile blocker(store.UserRoot() + "/Software/OpnFilHs/OFH");
    ASSERT_TRUE(blocker.open(QIODevice::WriteOnly));
    blocker.close();
    EXPECT_EQ(ErrorOf([&] { h->UpDate(); }), "キー \\Software\\OpnFilHs\\OFH の作成に失敗しました");
    ASSERT_TRUE(blocker.remove());

    StoreKey().WriteInteger(kName, 7);
    EXPECT_EQ(ErrorOf([&] { h->UpDate(); }), "'Quorbel' のデータ型が不正です");
    StoreKey().WriteExpandString(kName, "/e\r\n");
    h->UpDate();
    EXPECT_EQ(h->List(), QStringList({"/e"}));

}

TEST_F(History, DamagedStoreIsSetAsideReportedOnceAndThenWorks)
{
    struct DamageLog {
        DamageLog() : previous(Registry::SetDamageHandler([this](const platform::TRegistryDamage& d) { list << d; })) {}
        ~DamageLog() { Registry::SetDamageHandler(previous); }
        QList<platform::TRegistryDamage> list;
        Registry::TDamageHandler previous;
    } log;
    QList<platform::TRegistryDamage>& reports = log.list;
    enum Kind { Junk, FolderInItsPlace, Unreadable };
    for (const Kind kind : {Junk, FolderInItsPlace, Unreadable}) {
        SCOPED_TRACE(int(kind));
        if (kind == Unreadable && geteuid() == 0)
            continue; // root reads files regardless of their permissions
        h->ClearHistory();
        reports.clear();
        if (kind == FolderInItsPlace) {
            ASSERT_TRUE(QDir().mkpath(ValuesFile()));
        } else {
            QFile file(ValuesFile());
            ASSERT_TRUE(file.open(QIODevice::WriteOnly));
            file.write(kind == Junk ? QByteArray("not a key file\n\xff\x00", 17) : QByteArray("/a\r\n"));
            file.close();
            if (kind == Unreadable) {
                ASSERT_TRUE(QFile::setPermissions(ValuesFile(), {}));
            }
        }
        h->UpDate();
        ASSERT_EQ(reports.size(), 1);
        EXPECT_EQ(reports[0].file, ValuesFile());
        EXPECT_TRUE(reports[0].setAsideAs.startsWith(ValuesFile() + ".damaged-"));
        EXPECT_TRUE(QFileInfo::exists(reports[0].setAsideAs));
        EXPECT_TRUE(h->List().isEmpty());
        EXPECT_TRUE(Recent().isEmpty());

        h->AddHistory("/n");
        h->UpDate();
        EXPECT_EQ(reports.size(), 1);
        EXPECT_EQ(Stored(), "/n\r\n");
        EXPECT_EQ(Texts(Recent()), QStringList({"&0 /n"}));
        ASSERT_TRUE(QFile::remove(ValuesFile()));
    }
}

TEST_F(History, LastWriterDecidesTheSharedStore)
{
    Store("/s\r\n");
    TOpenFileHistories* other = New();
    h->UpDate();
    other->UpDate();
    h->AddHistory("/x");
    h->UpDate();
    EXPECT_EQ(Stored(), "/x\r\n/s\r\n");
    other->AddHistory("/y");
    other->UpDate();
    EXPECT_EQ(Stored(), "/y\r\n/s\r\n");
    EXPECT_EQ(other->List(), QStringList({"/y", "/s"}));
}

TEST_F(History, ClearHistoryForgetsEverything)
{
    StoreKey().WriteString("Other", "kept");
    Store("/a\r\n/b\r\n");
    h->UpDate();
    h->AddHistory("/c");
    h->ClearHistory();
    EXPECT_TRUE(Recent().isEmpty());
    EXPECT_TRUE(h->List().isEmpty());
    EXPECT_TRUE(h->NewHistoryList()->isEmpty());
    EXPECT_FALSE(StoreKey().ValueExists(kName));
    EXPECT_EQ(StoreKey().ReadString("Other"), "kept");
    h->ClearHistory(); // nothing left to delete is no error
    h->UpDate();
    EXPECT_EQ(Stored(), "");
}

} // namespace
