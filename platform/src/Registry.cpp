#include "platform/Registry.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLockFile>
#include <QSaveFile>
#include <QStandardPaths>
#include <QUrl>

namespace platform {

namespace {

const char kHeader[] = "QUORBEL-REGISTRY 1";
const char kValuesFile[] = "values.reg";
const char kLockFile[] = ".lock";

QString EnvFolder(const char* var, const QString& fallback)
{
    QString v = qEnvironmentVariable(var);
    if (v.isEmpty())
        return fallback;
    return v.split(u':', Qt::SkipEmptyParts).value(0, fallback);
}

// Key names may hold any character but a backslash; keep them safe as folder names.
QString EncodeName(const QString& name)
{
    QByteArray enc = QUrl::toPercentEncoding(name, " !#$&'()+,;=@[]^`{}~-_", "");
    if (enc == "." || enc == "..")
        enc.replace('.', "%2E");
    return QString::fromLatin1(enc);
}

QString DecodeName(const QString& folder)
{
    return QUrl::fromPercentEncoding(folder.toLatin1());
}

void AppendQuoted(QByteArray& out, const QString& s)
{
    out += '"';
    for (QChar c : s) {
        char16_t u = c.unicode();
        switch (u) {
        case u'"': out += "\\\""; continue;
        case u'\\': out += "\\\\"; continue;
        case u'\r': out += "\\r"; continue;
        case u'\n': out += "\\n"; continue;
        case u'\t': out += "\\t"; continue;
        default: break;
        }
        if (u < 0x20 || u == 0x7f || QChar::isSurrogate(u)) {
            out += QByteArray("\\u") + QByteArray::number(u, 16).rightJustified(4, '0');
        } else {
            out += QString(c).toUtf8();
        }
    }
    out += '"';
}

// Reads a quoted text at pos; false on any malformed input.
bool ReadQuoted(const QString& line, qsizetype& pos, QString& out)
{
    if (pos >= line.size() || line.at(pos) != u'"')
        return false;
    ++pos;
    out.clear();
    while (pos < line.size()) {
        QChar c = line.at(pos++);
        if (c == u'"')
            return true;
        if (c != u'\\') {
            out += c;
            continue;
        }
        if (pos >= line.size())
            return false;
        QChar e = line.at(pos++);
        switch (e.unicode()) {
        case u'"': out += u'"'; break;
        case u'\\': out += u'\\'; break;
        case u'r': out += u'\r'; break;
        case u'n': out += u'\n'; break;
        case u't': out += u'\t'; break;
        case u'u': {
            if (pos + 4 > line.size())
                return false;
            bool ok = false;
            uint v = line.mid(pos, 4).toUInt(&ok, 16);
            if (!ok)
                return false;
            out += QChar(char16_t(v));
            pos += 4;
            break;
        }
        default:
            return false;
        }
    }
    return false;
}

} // namespace

QByteArray SerializeRegValues(const QList<RegValue>& values)
{
    QByteArray out = kHeader;
    out += '\n';
    for (const RegValue& v : values) {
        AppendQuoted(out, v.name);
        out += '=';
        switch (v.type) {
        case RegDataType::rdString:
            out += "sz:";
            AppendQuoted(out, v.text);
            break;
        case RegDataType::rdExpandString:
            out += "expand_sz:";
            AppendQuoted(out, v.text);
            break;
        case RegDataType::rdInteger:
            out += "dword:" + QByteArray::number(quint32(v.integer), 16).rightJustified(8, '0');
            break;
        case RegDataType::rdBinary:
        case RegDataType::rdUnknown:
            out += "hex:" + v.binary.toHex(',');
            break;
        }
        out += '\n';
    }
    return out;
}

std::optional<QList<RegValue>> ParseRegValues(const QByteArray& bytes)
{
    QString text = QString::fromUtf8(bytes);
    if (text.toUtf8() != bytes)
        return std::nullopt; // not valid UTF-8
    QStringList lines = text.split(u'\n');
    if (lines.isEmpty() || lines.first() != QLatin1String(kHeader))
        return std::nullopt;
    QList<RegValue> values;
    for (qsizetype i = 1; i < lines.size(); ++i) {
        const QString& line = lines.at(i);
        if (line.isEmpty())
            continue;
        RegValue v;
        qsizetype pos = 0;
        if (!ReadQuoted(line, pos, v.name) || pos >= line.size() || line.at(pos) != u'=')
            return std::nullopt;
        ++pos;
        QString rest = line.mid(pos);
        if (rest.startsWith(u"sz:") || rest.startsWith(u"expand_sz:")) {
            bool expand = rest.startsWith(u"expand_sz:");
            qsizetype p = expand ? 10 : 3;
            if (!ReadQuoted(rest, p, v.text) || p != rest.size())
                return std::nullopt;
            v.type = expand ? RegDataType::rdExpandString : RegDataType::rdString;
        } else if (rest.startsWith(u"dword:")) {
            bool ok = false;
            QString hex = rest.mid(6);
            uint n = hex.toUInt(&ok, 16);
            if (!ok || hex.size() != 8)
                return std::nullopt;
            v.type = RegDataType::rdInteger;
            v.integer = qint32(n);
        } else if (rest.startsWith(u"hex:")) {
            QByteArray hex = rest.mid(4).toLatin1();
            hex.replace(',', "");
            if (hex.size() % 2 != 0)
                return std::nullopt;
            for (char c : hex)
                if (!std::isxdigit(static_cast<unsigned char>(c)))
                    return std::nullopt;
            v.type = RegDataType::rdBinary;
            v.binary = QByteArray::fromHex(hex);
        } else {
            return std::nullopt;
        }
        for (const RegValue& seen : values)
            if (seen.name.compare(v.name, Qt::CaseInsensitive) == 0)
                return std::nullopt;
        values.append(v);
    }
    return values;
}

Registry::Registry(RootKey root) : FRootKey(root) {}

void Registry::SetRootKey(RootKey root)
{
    CloseKey();
    FRootKey = root;
}

QString Registry::RootFolder(RootKey root)
{
    if (root == HKEY_LOCAL_MACHINE)
        return EnvFolder("XDG_CONFIG_DIRS", QStringLiteral("/etc/xdg")) + QStringLiteral("/quorbel/registry");
    return EnvFolder("XDG_CONFIG_HOME", QDir::homePath() + QStringLiteral("/.config"))
        + QStringLiteral("/quorbel/registry");
}

QStringList Registry::ResolvePath(const QString& key) const
{
    QStringList path;
    if (!key.startsWith(u'\\') && FHasCurrentKey)
        path = FCurrentPath;
    path += key.split(u'\\', Qt::SkipEmptyParts);
    return path;
}

// Maps a key path to its folder, matching existing folders without regard to
// case as key names are case-insensitive. Returns empty when a part is missing
// and create is false, or when creating fails.
QString Registry::FolderOf(const QStringList& path, bool create) const
{
    QString folder = RootFolder(FRootKey);
    if (create && !QDir().mkpath(folder))
        return {};
    for (const QString& part : path) {
        QDir dir(folder);
        QString found;
        if (dir.exists()) {
            const QStringList subs = dir.entryList(QDir::Dirs | QDir::NoDotAndDotDot | QDir::Hidden);
            for (const QString& sub : subs)
                if (DecodeName(sub).compare(part, Qt::CaseInsensitive) == 0) {
                    found = sub;
                    break;
                }
        }
        if (found.isEmpty()) {
            if (!create)
                return {};
            found = EncodeName(part);
            if (!dir.mkpath(found))
                return {};
        }
        folder = dir.filePath(found);
    }
    if (!QFileInfo(folder).isDir())
        return {};
    return folder;
}

bool Registry::OpenKey(const QString& key, bool canCreate)
{
    QStringList path = ResolvePath(key);
    bool mayCreate = canCreate && FRootKey != HKEY_LOCAL_MACHINE;
    QString folder = FolderOf(path, mayCreate);
    if (folder.isEmpty())
        return false;
    FCurrentPath = path;
    FCurrentFolder = folder;
    FHasCurrentKey = true;
    FReadOnly = FRootKey == HKEY_LOCAL_MACHINE;
    return true;
}

bool Registry::OpenKeyReadOnly(const QString& key)
{
    if (!OpenKey(key, false))
        return false;
    FReadOnly = true;
    return true;
}

void Registry::CloseKey()
{
    FHasCurrentKey = false;
    FReadOnly = false;
    FCurrentPath.clear();
    FCurrentFolder.clear();
}

QString Registry::CurrentPath() const { return FCurrentPath.join(u'\\'); }

bool Registry::KeyExists(const QString& key) const { return !FolderOf(ResolvePath(key), false).isEmpty(); }

void Registry::CreateKey(const QString& key)
{
    if (FRootKey == HKEY_LOCAL_MACHINE || FolderOf(ResolvePath(key), true).isEmpty())
        throw ERegistryException(Format(SRegCreateFailed, {key}));
}

bool Registry::DeleteKey(const QString& key)
{
    if (FRootKey == HKEY_LOCAL_MACHINE)
        return false;
    QStringList path = ResolvePath(key);
    if (path.isEmpty())
        return false;
    QString folder = FolderOf(path, false);
    if (folder.isEmpty())
        return false;
    if (FHasCurrentKey && FCurrentFolder.startsWith(folder))
        CloseKey();
    return QDir(folder).removeRecursively();
}

QStringList Registry::GetKeyNames() const
{
    QStringList names;
    if (!FHasCurrentKey)
        return names;
    const QStringList subs = QDir(FCurrentFolder).entryList(QDir::Dirs | QDir::NoDotAndDotDot | QDir::Hidden, QDir::Name);
    for (const QString& sub : subs)
        names << DecodeName(sub);
    return names;
}

std::optional<QList<RegValue>> Registry::LoadValues(QString* error) const
{
    if (!FHasCurrentKey) {
        if (error)
            *error = QStringLiteral("no key is open");
        return std::nullopt;
    }
    QFile file(QDir(FCurrentFolder).filePath(kValuesFile));
    if (!file.exists())
        return QList<RegValue>{};
    if (!file.open(QIODevice::ReadOnly)) {
        if (error)
            *error = file.errorString();
        return std::nullopt;
    }
    auto values = ParseRegValues(file.readAll());
    if (!values && error)
        *error = QStringLiteral("malformed key file");
    return values;
}

const RegValue* Registry::Find(const QList<RegValue>& values, const QString& name) const
{
    for (const RegValue& v : values)
        if (v.name.compare(name, Qt::CaseInsensitive) == 0)
            return &v;
    return nullptr;
}

QList<RegValue> Registry::LoadForRead(const QString& name) const
{
    auto values = LoadValues(nullptr);
    if (!values)
        throw ERegistryException(Format(SRegGetDataFailed, {name}));
    return *values;
}

bool Registry::ValueExists(const QString& name) const
{
    QList<RegValue> values = LoadForRead(name);
    return Find(values, name) != nullptr;
}

RegDataType Registry::GetDataType(const QString& name) const
{
    QList<RegValue> values = LoadForRead(name);
    const RegValue* v = Find(values, name);
    return v ? v->type : RegDataType::rdUnknown;
}

QStringList Registry::GetValueNames() const
{
    QStringList names;
    auto values = LoadValues(nullptr);
    if (values)
        for (const RegValue& v : *values)
            names << v.name;
    return names;
}

QString Registry::ReadString(const QString& name) const
{
    QList<RegValue> values = LoadForRead(name);
    const RegValue* v = Find(values, name);
    if (!v)
        return {};
    if (v->type != RegDataType::rdString && v->type != RegDataType::rdExpandString)
        throw ERegistryException(Format(SInvalidRegType, {name}));
    return v->text;
}

qint32 Registry::ReadInteger(const QString& name) const
{
    QList<RegValue> values = LoadForRead(name);
    const RegValue* v = Find(values, name);
    if (!v)
        throw ERegistryException(Format(SRegGetDataFailed, {name}));
    if (v->type != RegDataType::rdInteger)
        throw ERegistryException(Format(SInvalidRegType, {name}));
    return v->integer;
}

QByteArray Registry::ReadBinaryData(const QString& name) const
{
    QList<RegValue> values = LoadForRead(name);
    const RegValue* v = Find(values, name);
    if (!v)
        throw ERegistryException(Format(SRegGetDataFailed, {name}));
    if (v->type != RegDataType::rdBinary)
        throw ERegistryException(Format(SInvalidRegType, {name}));
    return v->binary;
}

// Read, change and replace the key file under its lock; the new file is
// written beside the old one and renamed over it. False when the key cannot
// be changed, the file is damaged or change() made no change.
bool Registry::Update(const std::function<bool(QList<RegValue>&)>& change)
{
    if (!FHasCurrentKey || FReadOnly || !QFileInfo(FCurrentFolder).isDir())
        return false;
    QLockFile lock(QDir(FCurrentFolder).filePath(kLockFile));
    lock.setStaleLockTime(10000);
    if (!lock.tryLock(5000))
        return false;
    auto values = LoadValues(nullptr);
    if (!values || !change(*values))
        return false;
    QSaveFile file(QDir(FCurrentFolder).filePath(kValuesFile));
    if (!file.open(QIODevice::WriteOnly))
        return false;
    file.write(SerializeRegValues(*values));
    return file.commit();
}

void Registry::Put(const QString& name, RegDataType type, const QString& text, qint32 integer,
                   const QByteArray& binary)
{
    const RegValue value{name, type, text, integer, binary};
    const bool stored = Update([&](QList<RegValue>& values) {
        for (RegValue& v : values)
            if (v.name.compare(name, Qt::CaseInsensitive) == 0) {
                v = value;
                return true;
            }
        values.append(value);
        return true;
    });
    if (!stored)
        throw ERegistryException(Format(SRegSetDataFailed, {name}));
}

void Registry::WriteString(const QString& name, const QString& value)
{
    Put(name, RegDataType::rdString, value, 0, {});
}

void Registry::WriteExpandString(const QString& name, const QString& value)
{
    Put(name, RegDataType::rdExpandString, value, 0, {});
}

void Registry::WriteInteger(const QString& name, qint32 value) { Put(name, RegDataType::rdInteger, {}, value, {}); }

void Registry::WriteBinaryData(const QString& name, const QByteArray& value)
{
    Put(name, RegDataType::rdBinary, {}, 0, value);
}

bool Registry::DeleteValue(const QString& name)
{
    return Update([&](QList<RegValue>& values) {
        return values.removeIf([&](const RegValue& v) { return v.name.compare(name, Qt::CaseInsensitive) == 0; }) > 0;
    });
}

} // namespace platform
