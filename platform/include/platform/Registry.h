#pragma once
// A small per-user / machine-wide registry of typed values under backslash key
// paths, stored as one human-readable file per key. Writes are atomic and
// serialised by a lock file; a damaged file is reported, never overwritten.
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

    // Value operations act on the current key. Reads of a damaged key file
    // throw SRegGetDataFailed; writes to it throw SRegSetDataFailed and leave
    // the file as it is.
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

private:
    QStringList ResolvePath(const QString& key) const;
    QString FolderOf(const QStringList& path, bool create) const;
    std::optional<QList<RegValue>> LoadValues(QString* error) const;
    const RegValue* Find(const QList<RegValue>& values, const QString& name) const;
    QList<RegValue> LoadForRead(const QString& name) const;
    bool Update(const std::function<bool(QList<RegValue>&)>& change);
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
