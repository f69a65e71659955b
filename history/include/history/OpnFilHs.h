#pragma once
// Recently used files: a newest-first list kept per user in the registry and
// shown as menu items (one per file and, optionally, one per folder).
#include <QAction>
#include <QList>
#include <QObject>
#include <QPointer>
#include <QString>
#include <QStringList>

#include <functional>
#include <memory>

class TOpenFileHistories : public QObject {
    Q_OBJECT
public:
    using TOnOpenFile = std::function<void(QObject* sender, const QString& fileName)>;
    using TOnOpenDialog = std::function<void(QObject* sender, const QString& directory)>;

    explicit TOpenFileHistories(QObject* owner);
    ~TOpenFileHistories() override;

    // Placement of the items. A "Sub" item must carry a submenu (QAction::menu());
    // an "Up" item must stand in a menu. Setting one of a pair clears the other.
    QAction* SubFileItem() const { return FSubFileItem; }
    void SetSubFileItem(QAction* item);
    QAction* UpFileItem() const { return FUpFileItem; }
    void SetUpFileItem(QAction* item);
    QAction* SubFolderItem() const { return FSubFolderItem; }
    void SetSubFolderItem(QAction* item);
    QAction* UpFolderItem() const { return FUpFolderItem; }
    void SetUpFolderItem(QAction* item);

    int MaxHistory() const { return FMaxHistory; }
    void SetMaxHistory(int value); // negative counts as 0

    TOnOpenFile OnOpenFile;
    TOnOpenDialog OnOpenDialog;
    QString SelfKeyName;

    void AddHistory(const QString& fileName);
    void SaveHistories(const QString& keyName);
    void GetHistories(const QString& keyName);
    void UpDate();
    void ClearHistory();

    const QStringList& List() const { return FList; }
    const QStringList* NewHistoryList() const { return NewHistory.get(); }
    const QList<QAction*>& Items() const { return ItemLIst; }

private:
    void BuildMenus();
    void RemoveItems();
    QAction* CreateItem(const QString& caption, int tag, bool folder);
    void Track(QAction* item);
    void FileItemClick(QAction* sender);
    void FolderItemClick(QAction* sender);
    const QString* EntryOf(QAction* sender) const;
    void Deliver(QAction* sender, const std::function<void()>& call);

    QPointer<QAction> FSubFileItem;
    QPointer<QAction> FSubFolderItem;
    QPointer<QAction> FUpFileItem;
    QPointer<QAction> FUpFolderItem;
    QStringList FList;
    int FMaxHistory = 10;
    std::unique_ptr<QStringList> NewHistory;
    QList<QAction*> ItemLIst;
    // The list the current items were built from: their tags index into it, so a
    // click still names the file its caption shows after FList changed alone.
    QStringList FShownList;
    // The item whose click is being handled; a handler that rebuilds the menus
    // must not destroy it while its signal is still running.
    QAction* FClickedItem = nullptr;
};

// Folder part of a path ("C:\work\a.py" -> "C:\work", "C:\a.py" -> "C:\",
// "/home/u/a.py" -> "/home/u", "a.py" -> "").
QString FolderOf(const QString& path);
// Menu accelerator for item n: "&0 ".."&9 ", "&A ".."&Z ", then nothing.
QString AccelPrefix(int n);
