#include "TempStore.h"

#include "platform/Registry.h"

TempStore::TempStore()
    : FOldHome(qgetenv("XDG_CONFIG_HOME")), FOldDirs(qgetenv("XDG_CONFIG_DIRS")),
      FHadHome(qEnvironmentVariableIsSet("XDG_CONFIG_HOME")), FHadDirs(qEnvironmentVariableIsSet("XDG_CONFIG_DIRS"))
{
    qputenv("XDG_CONFIG_HOME", (FDir.path() + "/user").toUtf8());
    qputenv("XDG_CONFIG_DIRS", (FDir.path() + "/machine").toUtf8());
}

TempStore::~TempStore()
{
    if (FHadHome) qputenv("XDG_CONFIG_HOME", FOldHome); else qunsetenv("XDG_CONFIG_HOME");
    if (FHadDirs) qputenv("XDG_CONFIG_DIRS", FOldDirs); else qunsetenv("XDG_CONFIG_DIRS");
}

QString TempStore::UserRoot() const { return platform::Registry::RootFolder(platform::HKEY_CURRENT_USER); }

QString TempStore::MachineRoot() const { return platform::Registry::RootFolder(platform::HKEY_LOCAL_MACHINE); }
