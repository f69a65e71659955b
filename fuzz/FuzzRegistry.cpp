// Any bytes as a key's stored file: reading gives values or a registry error,
// never a crash; a file that does not read is never replaced by a write or a
// delete; a file that reads serialises back to the same values, and a write
// into it keeps every other value.
#include "FuzzInput.h"

#include "platform/Registry.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <cstdio>
#include <memory>

namespace {

using namespace platform;
using fuzz::Check;

const QString kKey = QStringLiteral("\\Software\\OpnFilHs\\OFH");

bool Same(const RegValue& a, const RegValue& b)
{
    return a.name == b.name && a.type == b.type && a.text == b.text && a.integer == b.integer && a.binary == b.binary;
}

bool Same(const QList<RegValue>& a, const QList<RegValue>& b)
{
    if (a.size() != b.size())
        return false;
    for (qsizetype i = 0; i < a.size(); ++i)
        if (!Same(a[i], b[i]))
            return false;
    return true;
}

// The store lives in a temporary folder (in memory when /dev/shm exists) for
// the whole run; each input replaces the key's file.
struct Store {
    std::unique_ptr<QTemporaryDir> dir;
    QString file;

    Store()
    {
        const QString base = QDir(QStringLiteral("/dev/shm")).exists() ? QStringLiteral("/dev/shm") : QDir::tempPath();
        dir = std::make_unique<QTemporaryDir>(base + QStringLiteral("/quorbel-fuzz-XXXXXX"));
        qputenv("XDG_CONFIG_HOME", dir->path().toUtf8());
        Registry reg;
        Check(reg.OpenKey(kKey, true), "cannot create the fuzz key");
        file = QDir(Registry::RootFolder(HKEY_CURRENT_USER)).filePath(QStringLiteral("Software/OpnFilHs/OFH/values.reg"));
    }

    void Write(const std::uint8_t* data, std::size_t size) const
    {
        std::FILE* f = std::fopen(qPrintable(file), "wb");
        Check(f != nullptr, "cannot write the key file");
        Check(std::fwrite(data, 1, size, f) == size, "cannot write the key file");
        std::fclose(f);
    }

    QByteArray Read() const
    {
        QFile f(file);
        Check(f.open(QIODevice::ReadOnly), "the key file is gone");
        return f.readAll();
    }
};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    static Store store;
    const QByteArray bytes(reinterpret_cast<const char*>(data), qsizetype(size));
    const std::optional<QList<RegValue>> parsed = ParseRegValues(bytes);
    if (parsed) {
        const std::optional<QList<RegValue>> again = ParseRegValues(SerializeRegValues(*parsed));
        Check(again && Same(*again, *parsed), "stored values do not survive serialising");
    }

    store.Write(data, size);
    Registry reg;
    Check(reg.OpenKey(kKey, false), "cannot open the fuzz key");
    // The file's last value, or the one the history stores.
    const QString name = parsed && !parsed->isEmpty() ? parsed->last().name : QStringLiteral("Quorbel");
    const RegValue* stored = nullptr;
    if (parsed)
        for (const RegValue& v : *parsed)
            if (v.name.compare(name, Qt::CaseInsensitive) == 0)
                stored = &v;

    bool readFailed = false;
    QString text;
    try {
        text = reg.ReadString(name);
    } catch (const ERegistryException&) {
        readFailed = true;
    }

    if (!parsed) {
        Check(readFailed, "a damaged key file reads as values");
        Check(reg.GetValueNames().isEmpty(), "a damaged key file lists values");
        bool written = true;
        try {
            reg.WriteString(name, QStringLiteral("new"));
        } catch (const ERegistryException&) {
            written = false;
        }
        Check(!written, "a write into a damaged key file succeeded");
        Check(!reg.DeleteValue(name), "a delete from a damaged key file succeeded");
        Check(store.Read() == bytes, "a damaged key file was overwritten");
        return 0;
    }

    QStringList names;
    for (const RegValue& v : *parsed)
        names << v.name;
    Check(reg.GetValueNames() == names, "the listed value names are not the stored ones");
    Check(reg.ValueExists(name) == (stored != nullptr), "a value exists exactly when it is stored");
    Check(reg.GetDataType(name) == (stored ? stored->type : RegDataType::rdUnknown), "a value reads with another type");

    const bool isText = stored && (stored->type == RegDataType::rdString || stored->type == RegDataType::rdExpandString);
    Check(readFailed == (stored && !isText), "a read fails exactly on a value that is not text");
    Check(readFailed || text == (stored ? stored->text : QString()), "a read gives another text than stored");

    const QString fresh = QStringLiteral("C:\\a.py\r\n\u65e5\"\\\t") + QChar(0xD800);
    reg.WriteString(name, fresh);
    const std::optional<QList<RegValue>> after = ParseRegValues(store.Read());
    Check(after.has_value(), "a write left a file that does not read");
    QList<RegValue> expected = *parsed;
    bool replaced = false;
    for (RegValue& v : expected)
        if (v.name.compare(name, Qt::CaseInsensitive) == 0) {
            v = RegValue{name, RegDataType::rdString, fresh, 0, {}};
            replaced = true;
        }
    if (!replaced)
        expected.append(RegValue{name, RegDataType::rdString, fresh, 0, {}});
    Check(Same(*after, expected), "a write changed other values");
    Check(reg.ReadString(name) == fresh, "a written text reads back otherwise");
    return 0;
}
