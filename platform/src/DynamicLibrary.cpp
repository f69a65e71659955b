#include "platform/DynamicLibrary.h"

#include <QDir>
#include <QFileInfo>
#include <QStringList>

#include <cerrno>
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
