// Any bytes as a key's stored file, never a crash: a file that reads gives its
// values, serialises back to them, is never set aside, and a write into it
// keeps every other value; a file that does not read is set aside unchanged
// and reported once, and the key then reads empty and takes writes.
#include "FuzzInput.h"

#include "platform/Registry.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <cstdio>
#include <memory>
#include <vector>

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

// The registry refuses a key file above this size whether or not it parses.
constexpr std::size_t kMaxKeyFileSize = 1 << 20;

// The store lives in a temporary folder (in memory when /dev/shm exists) for
// the whole run; each input replaces the key's file. Set-aside files are
// collected rather than printed.
struct Store {
    std::unique_ptr<QTemporaryDir> dir;
    QString file;
    std::vector<TRegistryDamage> damages;

    Store()
    {
        const QString base = QDir(QStringLiteral("/dev/shm")).exists() ? QStringLiteral("/dev/shm") : QDir::tempPath();
        dir = std::make_unique<QTemporaryDir>(base + QStringLiteral("/quorbel-fuzz-XXXXXX"));
        qputenv("XDG_CONFIG_HOME", dir->path().toUtf8());
        Registry reg;
        Check(reg.OpenKey(kKey, true), "cannot create the fuzz key");
        file = QDir(Registry::RootFolder(HKEY_CURRENT_USER)).filePath(QStringLiteral("Software/OpnFilHs/OFH/values.reg"));
        Registry::SetDamageHandler([this](const TRegistryDamage& d) { damages.push_back(d); });
    }

    void Write(const std::uint8_t* data, std::size_t size) const
    {
        std::FILE* f = std::fopen(qPrintable(file), "wb");
        Check(f != nullptr, "cannot write the key file");
        Check(std::fwrite(data, 1, size, f) == size, "cannot write the key file");
        std::fclose(f);
    }

    QByteArray Read() const { return ReadFile(file, "the key file is gone"); }

    static QByteArray ReadFile(const QString& path, const char* missing)
    {
        QFile f(path);
        Check(f.open(QIODevice::ReadOnly), missing);
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

    store.damages.clear();
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

    if (!parsed || size > kMaxKeyFileSize) {
        Check(!readFailed && text.isEmpty(), "a damaged key file does not read as an empty key");
        Check(store.damages.size() == 1, "a damaged key file is not reported exactly once");
        const TRegistryDamage damage = store.damages.front();
        Check(damage.file == store.file, "the report names another file");
        Check(damage.setAsideAs.startsWith(store.file + QStringLiteral(".damaged-")),
              "a damaged key file is set aside under another name");
        const QByteArray aside = Store::ReadFile(damage.setAsideAs, "the set-aside file is missing");
        // Removed at once: within one second every leftover makes the next
        // set-aside name search one step longer.
        Check(QFile::remove(damage.setAsideAs), "cannot remove the set-aside file");
        Check(aside == bytes, "the set-aside file holds other bytes");
        Check(!QFile::exists(store.file), "a damaged key file stayed in place");

        reg.WriteString(name, QStringLiteral("new"));
        Check(reg.ReadString(name) == QStringLiteral("new"), "a write after setting aside reads back otherwise");
        Check(reg.GetValueNames() == QStringList{name}, "the fresh key lists other values");
        Check(store.damages.size() == 1, "a fresh key file was reported as damaged");
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
    Check(store.damages.empty(), "a key file that reads was set aside");
    return 0;
}
