#pragma once
// A small per-user / machine-wide registry of typed values under backslash key
// paths, stored as one human-readable file per key. Writes are atomic and
// serialised by a lock file. A damaged per-user key file is set aside (renamed,
// never deleted or overwritten) and reported once, and the key starts afresh.
#include "platform/Exception.h"

#include <QByteArray>
#include <QString>
#include <QStringList>
#include <functional>
#include <optional>

namespace platform {

enum class RootKey { HKEY_CURRENT_USER, HKEY_LOCAL_MACHINE };
inline constexpr RootKey HKEY_CURRENT_USER = RootKey::HKEY_CURRENT_USER;
inline constexpr RootKey HKEY_LOCAL_MACHINE = RootKey::HKEY_LOCAL_MACHINE;

enum class RegDataType { rdUnknown, rdString, rdExpandString, rdInteger, rdBinary };

class ERegistryException : public Exception {
public:
    using Exception::Exception;
};

// Message texts of registry failures (%s: key path or value name).
inline const QString SRegCreateFailed = QStringLiteral("キー %s の作成に失敗しました");
inline const QString SRegSetDataFailed = QStringLiteral("'%s' の設定に失敗しました");
inline const QString SRegGetDataFailed = QStringLiteral("'%s' の取得に失敗しました");
inline const QString SInvalidRegType = QStringLiteral("'%s' のデータ型が不正です");
// Appended to the messages above when a key file is at fault (%s: its path, why).
inline const QString SRegFileDetail = QStringLiteral("（設定ファイル \"%s\": %s）");
// A damaged key file was set aside (%s: its path, why, the name it now has).
inline const QString SRegFileSetAside =
    QStringLiteral("設定ファイル \"%s\" を読み込めませんでした（%s）。\"%s\" に移して、新しい設定で続けます。");

// A per-user key file that could not be read or parsed, or was far too large,
// and the name it was renamed to in its folder.
struct TRegistryDamage {
    QString file;
    QString setAsideAs;
    QString reason;
};

// The user message for a set-aside key file (SRegFileSetAside).
QString DamageMessage(const TRegistryDamage& damage);

struct RegValue {
    QString name;
    RegDataType type = RegDataType::rdUnknown;
    QString text;     // rdString, rdExpandString
    qint32 integer = 0; // rdInteger
    QByteArray binary;  // rdBinary
};

class Registry {
public:
    explicit Registry(RootKey root = HKEY_CURRENT_USER);

    RootKey GetRootKey() const { return FRootKey; }
    void SetRootKey(RootKey root);

    // A key starting with a backslash is taken from the root, any other from
    // the current key. Returns false when the key is missing (and may not be
    // created) or cannot be created.
    bool OpenKey(const QString& key, bool canCreate);
    bool OpenKeyReadOnly(const QString& key);
    void CloseKey();
    bool HasCurrentKey() const { return FHasCurrentKey; }
    QString CurrentPath() const;

    bool KeyExists(const QString& key) const;
    // Throws ERegistryException(SRegCreateFailed) when the key cannot be made.
    void CreateKey(const QString& key);
    bool DeleteKey(const QString& key);
    QStringList GetKeyNames() const;

    // Value operations act on the current key. A damaged key file of the
    // per-user hive (unreadable, malformed, over 1 MiB) is renamed to
    // "<name>.damaged-<yyyyMMdd-HHmmss>[-n]" beside itself by the first read or
    // write that finds it, which reports it and then sees an empty key. Where
    // it cannot be set aside (machine-wide hive, folder not writable) reads
    // throw SRegGetDataFailed and writes SRegSetDataFailed, naming the file.
    bool ValueExists(const QString& name) const;
    RegDataType GetDataType(const QString& name) const;
    QStringList GetValueNames() const;
    QString ReadString(const QString& name) const;     // missing value: empty text
    qint32 ReadInteger(const QString& name) const;     // missing value: error
    QByteArray ReadBinaryData(const QString& name) const;
    void WriteString(const QString& name, const QString& value);
    void WriteExpandString(const QString& name, const QString& value);
    void WriteInteger(const QString& name, qint32 value);
    void WriteBinaryData(const QString& name, const QByteArray& value);
    bool DeleteValue(const QString& name);

    // Folder that holds a hive's keys.
    static QString RootFolder(RootKey root);

    // Called once for each key file set aside, on the thread that found it;
    // without a handler DamageMessage() goes to standard error. Process-wide;
    // returns the handler it replaces.
    using TDamageHandler = std::function<void(const TRegistryDamage&)>;
    static TDamageHandler SetDamageHandler(TDamageHandler handler);

private:
    QStringList ResolvePath(const QString& key) const;
    QString FolderOf(const QStringList& path, bool create) const;
    QString ValuesFile() const;
    // The current key's values; nullopt with *error (the file and why) when
    // they cannot be had. A set-aside file is left in *damage for the caller
    // to report once it holds no lock.
    std::optional<QList<RegValue>> LoadValues(bool locked, QString* error,
                                              std::optional<TRegistryDamage>* damage) const;
    std::optional<QList<RegValue>> LoadAndReport(QString* error) const;
    const RegValue* Find(const QList<RegValue>& values, const QString& name) const;
    QList<RegValue> LoadForRead(const QString& name) const;
    bool Update(const std::function<bool(QList<RegValue>&)>& change, QString* error = nullptr);
    void Put(const QString& name, RegDataType type, const QString& text, qint32 integer, const QByteArray& binary);

    RootKey FRootKey;
    bool FHasCurrentKey = false;
    bool FReadOnly = false;
    QStringList FCurrentPath;
    QString FCurrentFolder;
};

// Text form of a key file, exposed for tests and tools.
QByteArray SerializeRegValues(const QList<RegValue>& values);
std::optional<QList<RegValue>> ParseRegValues(const QByteArray& bytes);

} // namespace platform
