#pragma once
// Finds, loads and unloads the Python runtime's shared library at run time.
// Nothing links against the runtime; everything goes through the platform's
// library functions (platform/DynamicLibrary.h).
#include "pybridge/Component.h"

#include "platform/Exception.h"

#include <QByteArray>
#include <QList>
#include <QString>
#include <QStringList>

#include <cstdint>
#include <optional>

namespace pybridge {

class EDLLLoadError : public platform::Exception {
public:
    using platform::Exception::Exception;
};

class EDLLImportError : public platform::Exception {
public:
    using platform::Exception::Exception;
    QByteArray WrongFunc; // the symbol that could not be mapped
    qint32 ErrorCode = 0; // the system's last error code at that moment
};

// Major and minor version read from a library file name; 3.4 when none can be read.
struct TPythonVersion {
    int Major = 3;
    int Minor = 4;
};
TPythonVersion VersionFromLibraryName(const QString& name);

struct TPythonVersionProp {
    const char* DllName;
    const char* RegVersion;
    int APIVersion;
};

// Oldest first; the engine tries them newest first when UseLastKnownVersion is set.
inline constexpr TPythonVersionProp KnownPythonVersions[11] = {
    {"libpython3.3m.so.1.0", "3.3", 1013},
    {"libpython3.4m.so.1.0", "3.4", 1013},
    {"libpython3.5m.so.1.0", "3.5", 1013},
    {"libpython3.6m.so.1.0", "3.6", 1013},
    {"libpython3.7m.so.1.0", "3.7", 1013},
    {"libpython3.8.so.1.0", "3.8", 1013},
    {"libpython3.9.so.1.0", "3.9", 1013},
    {"libpython3.10.so.1.0", "3.10", 1013},
    {"libpython3.11.so.1.0", "3.11", 1013},
    {"libpython3.12.so.1.0", "3.12", 1013},
    {"libpython3.13.so.1.0", "3.13", 1013},
};
inline constexpr int KnownPythonVersionCount = 11;

// The runtimes this program can drive: their object layouts and reference
// counting rules are the ones it declares.
inline constexpr int OldestSupportedMinor = 11;
inline constexpr int NewestSupportedMinor = 13;

// What a runtime says of itself (Py_GetVersion's text, "3.13.1 (main, ...) [GCC ...]").
struct TRuntimeVersion {
    int Major = 0;
    int Minor = 0;
    QString Number;            // "3.13.1"
    bool FreeThreaded = false; // built without the global interpreter lock
    bool Ok = false;           // the text began with a version number
};
TRuntimeVersion ParseRuntimeVersion(const QString& versionText);
// Why this program must not drive such a runtime; empty when it can.
QString RuntimeVersionRefusal(const TRuntimeVersion& v);
// The version a library's file name states ("libpython3.11.so.1.0": 3.11),
// if it states one.
std::optional<TPythonVersion> VersionStatedByName(const QString& name);

// One place to look for a runtime: a folder (empty: ask the dynamic loader)
// and a file name, with the version the name stands for.
struct TLibraryCandidate {
    QString Folder;
    QString FileName;
    QString RegVersion;
};


struct TSplitVersion {
    int Major = 0;
    int Minor = 0;
    bool Ok = false;
};
TSplitVersion SplitVersion(const QString& AVersion);

struct TRegisteredInstall {
    bool Found = false;
    QString InstallPath;
    bool AllUsers = false;
};
// Looks the version up under Python's registration keys; never throws.
TRegisteredInstall FindRegisteredInstall(const QString& AVersion);
// The key FindRegisteredInstall opens for a version.
QString RegisteredInstallKey(const QString& AVersion);

class TDynamicDll : public TComponent {
public:
    explicit TDynamicDll(TComponent* AOwner = nullptr);
    ~TDynamicDll() override;

    void LoadDll();
    void OpenDll(const QString& aDllName);
    // Loads the first candidate that opens and is accepted, in order; when
    // none is, reports every one tried and why, as OpenDll reports a failure.
    void LoadFirstOf(const QList<TLibraryCandidate>& candidates);
    // Each library tried by the last load that failed or was refused:
    // "<path>: <reason>".
    const QStringList& LoadAttempts() const { return FLoadAttempts; }
    // The loaded library's file as the loader found it; empty when none.
    QString LoadedLibraryFile() const;
    void UnloadDll();
    bool IsHandleValid() const { return FDLLHandle >= 32; }
    void Quit();
    // Address of an exported symbol; with MustExist a missing one raises EDLLImportError.
    void* ImportSymbol(const char* Name, bool MustExist = true);
    void* ImportSymbol(const QByteArray& Name, bool MustExist = true)
    {
        return ImportSymbol(Name.constData(), MustExist);
    }
    // For a program that is itself a library loaded by a Python process.
    void LoadDllInExtensionModule();
    // The folder the library is loaded from, with one trailing '/', or empty.
    QString LibraryFolder();
    bool IsInitializedRuntime();
    void ReadLoadedRuntimeVersion();

    void Loaded() override;

    // Properties.
    bool AutoLoad() const { return FAutoLoad; }
    void SetAutoLoad(bool v) { FAutoLoad = v; }
    bool AutoUnload() const { return FAutoUnload; }
    void SetAutoUnload(bool v) { FAutoUnload = v; }
    const QString& DllName() const { return FDllName; }
    void SetDllName(const QString& v) { FDllName = v; }
    const QString& DllPath() const { return FDllPath; }
    void SetDllPath(const QString& v) { FDllPath = v; }
    qint32 APIVersion() const { return FAPIVersion; }
    void SetAPIVersion(qint32 v) { FAPIVersion = v; }
    const QString& RegVersion() const { return FRegVersion; }
    void SetRegVersion(const QString& v) { FRegVersion = v; }
    bool FatalAbort() const { return FFatalAbort; }
    void SetFatalAbort(bool v) { FFatalAbort = v; }
    bool FatalMsgDlg() const { return FFatalMsgDlg; }
    void SetFatalMsgDlg(bool v) { FFatalMsgDlg = v; }
    bool UseLastKnownVersion() const { return FUseLastKnownVersion; }
    void SetUseLastKnownVersion(bool v) { FUseLastKnownVersion = v; }
    bool InExtensionModule() const { return FInExtensionModule; }
    uintptr_t DLLHandle() const { return FDLLHandle; }
    // Whether DllName, APIVersion, RegVersion go to a stored layout.
    bool IsDllNameStored() const { return !FUseLastKnownVersion; }
    bool IsAPIVersionStored() const { return !FUseLastKnownVersion; }
    bool IsRegVersionStored() const { return !FUseLastKnownVersion; }

    TNotifyEvent OnBeforeLoad;
    TNotifyEvent OnAfterLoad;
    TNotifyEvent OnBeforeUnload;

protected:
    virtual void BeforeLoad();
    virtual void AfterLoad();
    virtual void BeforeUnload();
    virtual QString QuitMessage();
    virtual void OpenLibraryFile(const QString& aDllName);
    // TDynamicDll's own load of one file; used by the engine's known-versions search.
    void OpenLibraryFileOnly(const QString& aDllName);
    // Called right after a library opened: a non-empty reason closes it again
    // and counts as a failed attempt, so nothing is bound to it.
    virtual QString RefusalOfLoadedLibrary() { return QString(); }
    // Shows an error box (caption "Error", task-modal) owned by the active window.
    static void ShowErrorBox(const QString& text);
    // Called by LibraryFolder when the registry names an install folder.
    virtual void RegisteredInstallFound(const QString& AInstallPath);

private:
    friend struct TDynamicDllTestSeam;
    // One load attempt without the failure report; true when a library is loaded.
    bool TryOpenDll(const QString& aDllName);
    void ReportLoadFailure();
    void NoteFailedAttempt(const QString& path, const QString& reason);

    QStringList FLoadAttempts;
    QString FDllName;
    QString FDllPath;
    qint32 FAPIVersion = 0;
    QString FRegVersion;
    bool FAutoLoad = true;
    bool FAutoUnload = false;
    bool FFatalMsgDlg = true;
    bool FFatalAbort = true;
    uintptr_t FDLLHandle = 0;
    bool FUseLastKnownVersion = true;
    bool FInExtensionModule = false;

protected:
    // errno after the last failed load or lookup (0 when unset).
    int FLastErrorCode = 0;
};

// For tests only: sets the handle that loading and unloading otherwise own.
struct TDynamicDllTestSeam {
    static void SetHandle(TDynamicDll& dll, uintptr_t handle) { dll.FDLLHandle = handle; }
};

} // namespace pybridge
