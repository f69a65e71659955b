#include "TempStore.h"

#include "platform/Registry.h"

TempStore::TempStore()
    : FOldHome(qgetenv("XDG_CONFIG_HOME")), FOldDirs(qgetenv("XDG_CONFIG_DIRS")),
      FOldState(qgetenv("XDG_STATE_HOME")), FHadHome(qEnvironmentVariableIsSet("XDG_CONFIG_HOME")),
      FHadDirs(qEnvironmentVariableIsSet("XDG_CONFIG_DIRS")), FHadState(qEnvironmentVariableIsSet("XDG_STATE_HOME"))
{
    qputenv("XDG_CONFIG_HOME", (FDir.path() + "/user").toUtf8());
    qputenv("XDG_CONFIG_DIRS", (FDir.path() + "/machine").toUtf8());
    qputenv("XDG_STATE_HOME", (FDir.path() + "/state").toUtf8());
}

TempStore::~TempStore()
{
    if (FHadHome) qputenv("XDG_CONFIG_HOME", FOldHome); else qunsetenv("XDG_CONFIG_HOME");
    if (FHadDirs) qputenv("XDG_CONFIG_DIRS", FOldDirs); else qunsetenv("XDG_CONFIG_DIRS");
    if (FHadState) qputenv("XDG_STATE_HOME", FOldState); else qunsetenv("XDG_STATE_HOME");
}

QString TempStore::StateRoot() const { return FDir.path() + QStringLiteral("/state"); }

QString TempStore::UserRoot() const { return platform::Registry::RootFolder(platform::HKEY_CURRENT_USER); }

QString TempStore::MachineRoot() const { return platform::Registry::RootFolder(platform::HKEY_LOCAL_MACHINE); }
