#include "history/OpnFilHs.h"

#include "platform/Registry.h"
#include "platform/TextLines.h"

#include <QMenu>
#include <QWidget>

#include <algorithm>

namespace {

const QString kStoreKey = QStringLiteral("\\Software\\OpnFilHs\\OFH");

// Paths are compared without regard to letter case (Unicode simple case
// folding), so one file named in two spellings keeps one place in the list.
qsizetype IndexOfPath(const QStringList& list, const QString& path)
{
    for (qsizetype i = 0; i < list.size(); ++i)
        if (list.at(i).compare(path, Qt::CaseInsensitive) == 0)
            return i;
    return -1;
}

// The key is created on every use, so a deleted key comes back on its own.
platform::Registry OpenStore()
{
    platform::Registry reg(platform::HKEY_CURRENT_USER);
    if (!reg.OpenKey(kStoreKey, true))
        throw platform::ERegistryException(platform::Format(platform::SRegCreateFailed, {kStoreKey}));
    return reg;
}

// A path's own ampersands must show as such, not as accelerator marks.
QString MenuText(const QString& path)
{
    QString text = path;
    text.replace(u'&', QStringLiteral("&&"));
    return text;
}

// The menu (or other widget) that shows the marker item.
QWidget* ContainerOf(QAction* marker)
{
    QWidget* any = nullptr;
    const QList<QObject*> objects = marker->associatedObjects();
    for (QObject* o : objects) {
        auto* w = qobject_cast<QWidget*>(o);
        if (!w || !w->actions().contains(marker))
            continue;
        if (qobject_cast<QMenu*>(w))
            return w;
        if (!any)
            any = w;
    }
    return any;
}

void InsertAt(QWidget* container, qsizetype index, QAction* item)
{
    const QList<QAction*> actions = container->actions();
    if (index < actions.size())
        container->insertAction(actions.at(index), item);
    else
        container->addAction(item);
}

} // namespace

QString FolderOf(const QString& path)
{
    auto isSeparator = [&](qsizetype i) { return path.at(i) == u'\\' || path.at(i) == u'/'; };
    // Only a drive letter's colon counts: elsewhere it is an ordinary file name character.
    auto isDriveColon = [&](qsizetype i) {
        return i == 1 && path.at(1) == u':' && path.at(0).unicode() < 128 && path.at(0).isLetter();
    };
    qsizetype i = path.size() - 1;
    while (i >= 0 && !isSeparator(i) && !isDriveColon(i))
        --i;
    if (i < 0)
        return {};
    if (isDriveColon(i))
        return path.left(i + 1);
    // A root separator stays: "C:\" and "/" are folders, "C:" and "" are not.
    if (i == 0 || isSeparator(i - 1) || isDriveColon(i - 1))
        return path.left(i + 1);
    return path.left(i);
}

QString AccelPrefix(int n)
{
    if (n >= 0 && n <= 9)
        return QStringLiteral("&") + QChar(u'0' + n) + u' ';
    if (n >= 10 && n <= 35)
        return QStringLiteral("&") + QChar(char16_t(n + 55)) + u' ';
    return {};
}

TOpenFileHistories::TOpenFileHistories(QObject* owner) : QObject(owner) {}

TOpenFileHistories::~TOpenFileHistories()
{
    // The items outlive the component (they belong to the owner); they must
    // no longer call into it.
    for (QAction* item : std::as_const(ItemLIst))
        item->disconnect(this);
}

void TOpenFileHistories::SetSubFileItem(QAction* item)
{
    FSubFileItem = item;
    FUpFileItem = nullptr;
}

void TOpenFileHistories::SetUpFileItem(QAction* item)
{
    FUpFileItem = item;
    FSubFileItem = nullptr;
}

void TOpenFileHistories::SetSubFolderItem(QAction* item)
{
    FSubFolderItem = item;
    FUpFolderItem = nullptr;
}

void TOpenFileHistories::SetUpFolderItem(QAction* item)
{
    FUpFolderItem = item;
    FSubFolderItem = nullptr;
}

void TOpenFileHistories::SetMaxHistory(int value) { FMaxHistory = std::max(value, 0); }

void TOpenFileHistories::AddHistory(const QString& fileName)
{
    // The stored form ends each entry with a line break; a name holding one
    // would come back as several bogus entries.
    if (fileName.contains(u'\r') || fileName.contains(u'\n'))
        return;
    if (!NewHistory)
        NewHistory = std::make_unique<QStringList>();
    qsizetype i = IndexOfPath(*NewHistory, fileName);
    if (i >= 0)
        NewHistory->removeAt(i);
    NewHistory->prepend(fileName);
}

void TOpenFileHistories::SaveHistories(const QString& keyName)
{
    const QString key = keyName.isEmpty() ? SelfKeyName : keyName;
    if (!NewHistory)
        return;
    for (qsizetype i = NewHistory->size() - 1; i >= 0; --i) {
        const QString entry = NewHistory->at(i);
        qsizetype old = IndexOfPath(FList, entry);
        if (old >= 0)
            FList.removeAt(old);
        FList.prepend(entry);
    }
    if (FList.size() > FMaxHistory)
        FList.erase(FList.begin() + FMaxHistory, FList.end());

    QString text;
    for (const QString& entry : std::as_const(FList))
        text += entry + QStringLiteral("\r\n");
    platform::Registry reg = OpenStore();
    reg.WriteString(key, text);
}

void TOpenFileHistories::GetHistories(const QString& keyName)
{
    const QString key = keyName.isEmpty() ? SelfKeyName : keyName;
    SelfKeyName = key;
    platform::Registry reg = OpenStore();
    // A break at the very end starts no further entry.
    FList = platform::SplitLines(reg.ReadString(key), platform::kCrLfBreaks, platform::TFinalBreak::EndsLine);
    // Called on its own, a reload must not leave the previous items behind.
    RemoveItems();
    FShownList = FList;
    if (FList.isEmpty())
        return;
    BuildMenus();
}

void TOpenFileHistories::UpDate()
{
    RemoveItems();
    SaveHistories(SelfKeyName);
    GetHistories(SelfKeyName);
}

void TOpenFileHistories::ClearHistory()
{
    RemoveItems();
    FShownList.clear();
    if (NewHistory)
        NewHistory->clear();
    FList.clear();

    platform::Registry reg = OpenStore();
    if (!reg.DeleteValue(SelfKeyName)) {
        // False also means "there was nothing to delete", which is success.
        bool gone = false;
        try {
            gone = !reg.ValueExists(SelfKeyName);
        } catch (const platform::ERegistryException&) {
        }
        if (!gone)
            throw platform::ERegistryException(platform::Format(platform::SRegSetDataFailed, {SelfKeyName}));
    }
}

QAction* TOpenFileHistories::CreateItem(const QString& caption, int tag, bool folder)
{
    // Items belong to the owner, like the menus they stand in.
    QObject* owner = parent() ? parent() : this;
    auto* item = new QAction(caption, owner);
    item->setData(tag);
    if (folder)
        connect(item, &QAction::triggered, this, [this, item] { FolderItemClick(item); });
    else
        connect(item, &QAction::triggered, this, [this, item] { FileItemClick(item); });
    Track(item);
    return item;
}

void TOpenFileHistories::Track(QAction* item)
{
    ItemLIst.append(item);
    // The owner may destroy an item itself; never destroy it a second time.
    connect(item, &QObject::destroyed, this, [this, item] { ItemLIst.removeOne(item); });
}

void TOpenFileHistories::BuildMenus()
{
    QStringList folders;
    for (qsizetype p = 0; p < FList.size(); ++p) {
        const QString& entry = FList.at(p);
        const int tag = int(p);
        const QString fileCaption = AccelPrefix(tag) + MenuText(entry);

        if (FSubFileItem) {
            if (QMenu* menu = FSubFileItem->menu())
                menu->addAction(CreateItem(fileCaption, tag, false));
            FSubFileItem->setEnabled(true);
        }
        if (FUpFileItem) {
            FUpFileItem->setVisible(true);
            if (QWidget* container = ContainerOf(FUpFileItem))
                InsertAt(container, container->actions().indexOf(FUpFileItem) + p + 1,
                         CreateItem(fileCaption, tag, false));
        }

        const QString folder = FolderOf(entry);
        if (FSubFolderItem && IndexOfPath(folders, folder) < 0) {
            const QString caption = AccelPrefix(int(folders.size())) + MenuText(folder);
            if (QMenu* menu = FSubFolderItem->menu())
                menu->addAction(CreateItem(caption, tag, true));
            folders << folder;
            FSubFolderItem->setEnabled(true);
        }
        if (FUpFolderItem) {
            FUpFolderItem->setVisible(true);
            if (IndexOfPath(folders, folder) < 0) {
                const QString caption = AccelPrefix(int(folders.size())) + MenuText(folder);
                if (QWidget* container = ContainerOf(FUpFolderItem))
                    InsertAt(container, container->actions().indexOf(FUpFolderItem) + folders.size() + 1,
                             CreateItem(caption, tag, true));
                folders << folder;
            }
        }
    }
}

void TOpenFileHistories::RemoveItems()
{
    QList<QAction*> items;
    items.swap(ItemLIst);
    for (QAction* item : std::as_const(items)) {
        item->disconnect(this);
        if (item == FClickedItem) {
            // Its triggered signal is still being delivered: take it out of
            // the menus now and destroy it once control is back in the loop.
            const QList<QObject*> objects = item->associatedObjects();
            for (QObject* o : objects)
                if (auto* w = qobject_cast<QWidget*>(o))
                    w->removeAction(item);
            item->deleteLater();
        } else {
            delete item;
        }
    }
}

const QString* TOpenFileHistories::EntryOf(QAction* sender) const
{
    bool ok = false;
    const int tag = sender->data().toInt(&ok);
    if (!ok || tag < 0 || tag >= FShownList.size())
        return nullptr;
    return &FShownList.at(tag);
}

void TOpenFileHistories::Deliver(QAction* sender, const std::function<void()>& call)
{
    QPointer<TOpenFileHistories> self(this); // the handler may even destroy the component
    QAction* outer = FClickedItem;
    FClickedItem = sender;
    try {
        call();
    } catch (...) {
        if (self)
            FClickedItem = outer;
        throw;
    }
    if (self)
        FClickedItem = outer;
}

void TOpenFileHistories::FileItemClick(QAction* sender)
{
    const QString* entry = EntryOf(sender);
    if (!OnOpenFile || !entry)
        return;
    const QString fileName = *entry; // the handler may rebuild the lists
    const TOnOpenFile handler = OnOpenFile;
    Deliver(sender, [&] { handler(sender, fileName); });
}

void TOpenFileHistories::FolderItemClick(QAction* sender)
{
    const QString* entry = EntryOf(sender);
    if (!OnOpenDialog || !entry)
        return;
    const QString directory = FolderOf(*entry);
    const TOnOpenDialog handler = OnOpenDialog;
    Deliver(sender, [&] { handler(sender, directory); });
}
