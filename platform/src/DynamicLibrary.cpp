#include "platform/DynamicLibrary.h"

#include <QDir>
#include <QFileInfo>
#include <QStringList>

#include <cerrno>
#include <cstdint>
#include <cfenv>
#include <cstdlib>
#include <cstring>
#include <dlfcn.h>
#include <link.h>

namespace platform {

LibraryOpenResult OpenLibrary(const QByteArray& path)
{
    LibraryOpenResult r;
    fenv_t saved;
    fegetenv(&saved);
    dlerror(); // forget an older failure
    errno = 0;
    r.handle = dlopen(path.constData(), RTLD_NOW | RTLD_GLOBAL | RTLD_NODELETE);
    if (!r.handle) {
        r.errorCode = errno;
        const char* e = dlerror();
        r.error = e ? QString::fromLocal8Bit(e) : QStringLiteral("unknown error");
    }
    fesetenv(&saved);
    return r;
}

void* LibrarySymbol(void* handle, const char* name) { return handle ? dlsym(handle, name) : nullptr; }

void CloseLibrary(void* handle)
{
    if (handle)
        dlclose(handle);
}

void* OpenProgramImage() { return dlopen(nullptr, RTLD_NOW); }

void* OpenLoadedLibrary(const QByteArray& file) { return dlopen(file.constData(), RTLD_NOW | RTLD_NOLOAD); }

namespace {

struct TModuleScan {
    std::uintptr_t address = 0;
    bool inMainProgram = false;
    int index = 0;
};

int FindObjectOf(dl_phdr_info* info, size_t, void* data)
{
    auto* scan = static_cast<TModuleScan*>(data);
    const int index = scan->index++;
    for (int i = 0; i < info->dlpi_phnum; ++i) {
        const ElfW(Phdr)& ph = info->dlpi_phdr[i];
        if (ph.p_type != PT_LOAD)
            continue;
        const std::uintptr_t start = info->dlpi_addr + ph.p_vaddr;
        if (scan->address >= start && scan->address < start + ph.p_memsz) {
            scan->inMainProgram = index == 0; // the program itself is listed first
            return 1;
        }
    }
    return 0;
}

int CollectNames(dl_phdr_info* info, size_t, void* data)
{
    auto* names = static_cast<QList<QByteArray>*>(data);
    if (names->size() >= 1024)
        return 1;
    if (info->dlpi_name && info->dlpi_name[0])
        names->append(QByteArray(info->dlpi_name));
    return 0;
}

} // namespace

QList<QByteArray> LoadedLibraryFiles()
{
    QList<QByteArray> names;
    dl_iterate_phdr(&CollectNames, &names);
    return names;
}

bool AddressInMainProgram(const void* address)
{
    TModuleScan scan;
    scan.address = reinterpret_cast<std::uintptr_t>(address);
    dl_iterate_phdr(&FindObjectOf, &scan);
    return scan.inMainProgram;
}

QString LastLibraryError()
{
    const char* e = dlerror();
    return e ? QString::fromLocal8Bit(e) : QString();
}

QString LibraryFileOf(void* handle)
{
    link_map* map = nullptr;
    if (!handle || dlinfo(handle, RTLD_DI_LINKMAP, &map) != 0 || !map || !map->l_name)
        return QString();
    return QString::fromLocal8Bit(map->l_name);
}

bool SystemLibraryExists(const QString& fileName)
{
    QStringList folders = qEnvironmentVariable("LD_LIBRARY_PATH").split(u':', Qt::SkipEmptyParts);
    for (const char* multiarch : {"/usr/lib/x86_64-linux-gnu", "/lib/x86_64-linux-gnu", "/usr/lib64", "/lib64",
                                  "/usr/lib", "/lib", "/usr/local/lib"})
        folders << QLatin1String(multiarch);
    for (const QString& folder : folders)
        if (QFileInfo(QDir(folder).filePath(fileName)).isFile())
            return true;
    return false;
}

bool EnvironmentUsesCLocale()
{
    const char* name = nullptr;
    for (const char* variable : {"LC_ALL", "LC_CTYPE", "LANG"}) {
        const char* v = std::getenv(variable);
        if (v && *v) {
            name = v;
            break;
        }
    }
    return !name || std::strcmp(name, "C") == 0 || std::strcmp(name, "POSIX") == 0;
}

} // namespace platform
