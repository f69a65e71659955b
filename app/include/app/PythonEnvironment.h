#pragma once
// The virtual environment a user runs scripts in: checked when chosen, so
// that a run never starts half-configured.
#include <QString>

#include <optional>

struct TPythonEnvironment {
    QString Folder;    // the environment's folder (holds pyvenv.cfg)
    QString PythonExe; // its interpreter, as sys.executable names it
    QString Version;   // as pyvenv.cfg states it ("3.13.5")
    int Minor = 0;     // 3.<Minor>
};

struct TEnvironmentCheck {
    std::optional<TPythonEnvironment> Environment; // set when usable
    QString Problem;                                // why not, naming what was found
};

// Takes an environment's folder or its python executable. Usable when the
// folder holds a pyvenv.cfg stating a supported version, an interpreter,
// and a runtime of that version can be found (beside the program or on the
// system).
TEnvironmentCheck CheckPythonEnvironment(const QString& folderOrPython, const QString& executableFolder);

// The version pyvenv.cfg's text states ("version" or "version_info"); empty
// when it states none.
QString StatedEnvironmentVersion(const QString& pyvenvCfgText);
