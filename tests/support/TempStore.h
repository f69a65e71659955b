#pragma once
// Points the per-user and machine-wide registry stores and the user's state
// folder (recovery journals) at a fresh temporary folder for the lifetime of
// the object.
#include <QByteArray>
#include <QString>
#include <QTemporaryDir>

class TempStore {
public:
    TempStore();
    ~TempStore();
    QString Path() const { return FDir.path(); }
    QString UserRoot() const;    // folder of HKEY_CURRENT_USER keys
    QString MachineRoot() const; // folder of HKEY_LOCAL_MACHINE keys
    QString StateRoot() const;   // XDG_STATE_HOME

private:
    QTemporaryDir FDir;
    QByteArray FOldHome, FOldDirs, FOldState;
    bool FHadHome, FHadDirs, FHadState;
};
