#include "platform/Registry.h"

#include "platform/TextCodec.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLockFile>
#include <QStandardPaths>
#include <QUrl>

#include <cstdio>
#include <mutex>

namespace platform {

namespace {

const char kHeader[] = "QUORBEL-REGISTRY 1";
const char kValuesFile[] = "values.reg";
const char kLockFile[] = ".lock";
// Far above any key file the program writes: a larger one is not read at all.
constexpr qint64 kMaxKeyFileSize = 1 << 20;

struct TLoadedFile {
    std::optional<QList<RegValue>> values;
    QString reason; // why there are none
};

// A missing file is an empty key.
TLoadedFile LoadKeyFile(const QString& path)
{
    if (!QFileInfo::exists(path))
        return {QList<RegValue>{}, {}};
    QByteArray bytes;
    try {
        bytes = ReadRegularFile(path, kMaxKeyFileSize);
    } catch (const Exception& e) {
        return {std::nullopt, e.Message()};
    }
    auto values = ParseRegValues(bytes);
    if (!values)
        return {std::nullopt, QStringLiteral("形式が正しくありません")};
    return {std::move(values), {}};
}

struct TDamageReporter {
    std::mutex lock;
    Registry::TDamageHandler handler;
};

TDamageReporter& Reporter()
{
    static TDamageReporter reporter;
    return reporter;
}

void ReportDamage(const TRegistryDamage& damage)
{
    Registry::TDamageHandler handler;
    {
        std::lock_guard guard(Reporter().lock);
        handler = Reporter().handler;
    }
    if (handler)
        handler(damage);
    else
        std::fprintf(stderr, "%s\n", DamageMessage(damage).toUtf8().constData());
}

QString FileDetail(const QString& path, const QString& reason)
{
    return Format(SRegFileDetail, {QDir::toNativeSeparators(path), reason});
}

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

QString DamageMessage(const TRegistryDamage& damage)
{
    return Format(SRegFileSetAside, {QDir::toNativeSeparators(damage.file), damage.reason,
                                     QDir::toNativeSeparators(damage.setAsideAs)});
}

Registry::TDamageHandler Registry::SetDamageHandler(TDamageHandler handler)
{
    std::lock_guard guard(Reporter().lock);
    std::swap(handler, Reporter().handler);
    return handler;
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

QString Registry::ValuesFile() const { return QDir(FCurrentFolder).filePath(kValuesFile); }

std::optional<QList<RegValue>> Registry::LoadValues(bool locked, QString* error,
                                                    std::optional<TRegistryDamage>* damage) const
{
    if (!FHasCurrentKey) {
        *error = QStringLiteral("no key is open");
        return std::nullopt;
    }
    const QString path = ValuesFile();
    TLoadedFile loaded = LoadKeyFile(path);
    if (!loaded.values && FRootKey == HKEY_CURRENT_USER) {
        // Set aside only under the key's lock, and only what is still damaged
        // then: another process may have set it aside and written a fresh file.
        std::optional<QLockFile> lock;
        if (!locked) {
            lock.emplace(QDir(FCurrentFolder).filePath(kLockFile));
            lock->setStaleLockTime(10000);
            if (lock->tryLock(5000))
                loaded = LoadKeyFile(path);
        }
        if (!loaded.values && (locked || lock->isLocked())) {
            const QString aside = SetFileAside(path);
            if (!aside.isEmpty()) {
                *damage = TRegistryDamage{path, aside, loaded.reason};
                loaded.values = QList<RegValue>{};
            }
        }
    }
    if (!loaded.values)
        *error = FileDetail(path, loaded.reason);
    return loaded.values;
}

std::optional<QList<RegValue>> Registry::LoadAndReport(QString* error) const
{
    std::optional<TRegistryDamage> damage;
    auto values = LoadValues(false, error, &damage);
    if (damage)
        ReportDamage(*damage);
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
    QString error;
    auto values = LoadAndReport(&error);
    if (!values)
        throw ERegistryException(Format(SRegGetDataFailed, {name}) + error);
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
    QString error;
    auto values = LoadAndReport(&error);
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
// be changed (*error then names the file and why, if it is at fault) or
// change() made no change.
bool Registry::Update(const std::function<bool(QList<RegValue>&)>& change, QString* error)
{
    if (!FHasCurrentKey || FReadOnly || !QFileInfo(FCurrentFolder).isDir())
        return false;
    QString failure;
    std::optional<TRegistryDamage> damage;
    bool stored = false;
    {
        QLockFile lock(QDir(FCurrentFolder).filePath(kLockFile));
        lock.setStaleLockTime(10000);
        if (!lock.tryLock(5000)) {
            if (error)
                *error = FileDetail(ValuesFile(), lock.error() == QLockFile::LockFailedError
                                                      ? QStringLiteral("別のプロセスが使用中です")
                                                      : QStringLiteral("ロックファイルを作成できません"));
            return false;
        }
        auto values = LoadValues(true, &failure, &damage);
        if (values && change(*values)) {
            try {
                WriteFileAtomically(ValuesFile(), SerializeRegValues(*values));
                stored = true;
            } catch (const Exception& e) {
                failure = FileDetail(ValuesFile(), e.Message());
            }
        }
    }
    // Reported once the lock is released: a handler may wait for the user.
    if (damage)
        ReportDamage(*damage);
    if (!stored && error)
        *error = failure;
    return stored;
}

void Registry::Put(const QString& name, RegDataType type, const QString& text, qint32 integer,
                   const QByteArray& binary)
{
    const RegValue value{name, type, text, integer, binary};
    QString error;
    const bool stored = Update(
        [&](QList<RegValue>& values) {
            for (RegValue& v : values)
                if (v.name.compare(name, Qt::CaseInsensitive) == 0) {
                    v = value;
                    return true;
                }
            values.append(value);
            return true;
        },
        &error);
    if (!stored)
        throw ERegistryException(Format(SRegSetDataFailed, {name}) + error);
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
