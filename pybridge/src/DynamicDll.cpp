#include "pybridge/DynamicDll.h"

#include "platform/Dialogs.h"
#include "platform/DynamicLibrary.h"
#include "platform/Registry.h"

#include <QFileInfo>
#include <QRegularExpression>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cwchar>

namespace pybridge {

namespace {

void* AsPointer(uintptr_t h) { return reinterpret_cast<void*>(h); }

void ReportDlError()
{
    if (const QString e = platform::LastLibraryError(); !e.isEmpty())
        std::fprintf(stderr, "%s\n", e.toLocal8Bit().constData());
}

} // namespace

TPythonVersion VersionFromLibraryName(const QString& name)
{
    TPythonVersion v;
    const QString file = QFileInfo(name).fileName().toLower();
    const qsizetype at = file.indexOf(QLatin1String("python"));
    if (at < 0)
        return v;
    QString rest = file.mid(at + 6);
    if (rest.isEmpty())
        return v;
    const QChar d = rest.at(0);
    if (d < u'2' || d > u'5')
        return v;
    v.Major = d.unicode() - u'0';
    rest.remove(0, 1);
    if (rest.isEmpty())
        return v;
    if (rest.at(0) == u'.')
        rest.remove(0, 1);
    else if (!rest.at(0).isDigit())
        return v;
    qsizetype cut = 0;
    while (cut < rest.size()) {
        const QChar c = rest.at(cut);
        if (c == u'.' || (c >= u'a' && c <= u'z'))
            break;
        ++cut;
    }
    bool ok = false;
    const int minor = rest.left(cut).toInt(&ok);
    v.Minor = ok ? minor : 4;
    return v;
}

TRuntimeVersion ParseRuntimeVersion(const QString& versionText)
{
    TRuntimeVersion v;
    static const QRegularExpression number(QStringLiteral("^(\\d+)\\.(\\d+)(\\.\\d+)?\\S*"));
    const QRegularExpressionMatch m = number.match(versionText);
    if (!m.hasMatch())
        return v;
    v.Major = m.captured(1).toInt();
    v.Minor = m.captured(2).toInt();
    v.Number = m.captured(0);
    v.FreeThreaded = versionText.contains(QLatin1String("free-threading"));
    v.Ok = true;
    return v;
}

QString RuntimeVersionRefusal(const TRuntimeVersion& v)
{
    const QString supported = QStringLiteral("this program runs Python 3.%1 to 3.%2")
                                  .arg(OldestSupportedMinor)
                                  .arg(NewestSupportedMinor);
    if (!v.Ok)
        return QStringLiteral("no Python version could be read from it; ") + supported;
    if (v.Major != 3 || v.Minor < OldestSupportedMinor || v.Minor > NewestSupportedMinor)
        return QStringLiteral("it is Python %1; ").arg(v.Number) + supported;
    if (v.FreeThreaded)
        return QStringLiteral("it is a free-threaded build of Python %1, whose objects this program cannot "
                              "handle; use the default build (libpython%2.%3)")
            .arg(v.Number)
            .arg(v.Major)
            .arg(v.Minor);
    return QString();
}

std::optional<TPythonVersion> VersionStatedByName(const QString& name)
{
    static const QRegularExpression stated(QStringLiteral("python(\\d)\\.?(\\d+)"));
    const QRegularExpressionMatch m = stated.match(QFileInfo(name).fileName().toLower());
    if (!m.hasMatch())
        return std::nullopt;
    return TPythonVersion{m.captured(1).toInt(), m.captured(2).toInt()};
}

TSplitVersion SplitVersion(const QString& AVersion)
{
    TSplitVersion r;
    const qsizetype dot = AVersion.indexOf(u'.');
    const QString major = dot < 0 ? AVersion : AVersion.left(dot);
    const QString minor = dot < 0 ? QString() : AVersion.mid(dot + 1);
    bool ok = false;
    r.Major = major.toInt(&ok);
    if (!ok)
        r.Major = 0;
    r.Minor = minor.toInt(&ok);
    if (!ok)
        r.Minor = 0;
    r.Ok = r.Major > 0 && r.Minor > 0;
    return r;
}

QString RegisteredInstallKey(const QString& AVersion)
{
    // A 64-bit program: registered without the "-32" suffix.
    return platform::Format(QStringLiteral("\\Software\\Python\\PythonCore\\%s\\InstallPath"), {AVersion});
}

TRegisteredInstall FindRegisteredInstall(const QString& AVersion)
{
    TRegisteredInstall r;
    const TSplitVersion v = SplitVersion(AVersion);
    // Installs of 3.3 and 3.4 kept their path elsewhere; only later ones are read machine-wide.
    const bool readsMachinePath = v.Major > 3 || (v.Major == 3 && v.Minor >= 5);
    const QString key = RegisteredInstallKey(AVersion);
    try {
        platform::Registry reg(platform::HKEY_CURRENT_USER);
        if (reg.OpenKeyReadOnly(key)) {
            r.InstallPath = reg.ReadString(QString());
            r.Found = true;
            return r;
        }
    } catch (const std::exception&) {
        r.InstallPath.clear();
    }
    try {
        platform::Registry reg(platform::HKEY_LOCAL_MACHINE);
        if (reg.OpenKeyReadOnly(key)) {
            r.AllUsers = true;
            if (readsMachinePath)
                r.InstallPath = reg.ReadString(QString());
            r.Found = true;
        }
    } catch (const std::exception&) {
        r.AllUsers = false;
        r.InstallPath.clear();
    }
    return r;
}

TDynamicDll::TDynamicDll(TComponent* AOwner) : TComponent(AOwner) {}

TDynamicDll::~TDynamicDll()
{
    Destroying();
    if (FAutoUnload)
        UnloadDll();
}

void TDynamicDll::LoadDll() { OpenDll(FDllName); }

void TDynamicDll::OpenDll(const QString& aDllName)
{
    FLoadAttempts.clear();
    if (!TryOpenDll(aDllName))
        ReportLoadFailure();
}

void TDynamicDll::LoadFirstOf(const QList<TLibraryCandidate>& candidates)
{
    FLoadAttempts.clear();
    for (const TLibraryCandidate& c : candidates) {
        FDllPath = c.Folder;
        FRegVersion = c.RegVersion;
        if (TryOpenDll(c.FileName))
            return;
    }
    ReportLoadFailure();
}

bool TDynamicDll::TryOpenDll(const QString& aDllName)
{
    UnloadDll();
    BeforeLoad();
    FDLLHandle = 0;
    OpenLibraryFile(aDllName);
    if (!IsHandleValid())
        return false;
    AfterLoad();
    return true;
}

void TDynamicDll::ReportLoadFailure()
{
    // The first line is the classic one; the rest says where the library was
    // looked for and why each place failed, so a user can act on it.
    QString msg = platform::Format(QStringLiteral("Error %d: Could not open Dll \"%s\""),
                                   {QString::number(FLastErrorCode), FDllName});
    for (const QString& attempt : FLoadAttempts) {
        msg += u'\n' + attempt;
        std::fprintf(stderr, "%s\n", attempt.toLocal8Bit().constData());
    }
    if (FFatalMsgDlg)
        ShowErrorBox(msg);
    if (FFatalAbort)
        Quit();
}

void TDynamicDll::NoteFailedAttempt(const QString& path, const QString& reason)
{
    // The loader's text usually starts with the path already.
    // Written to standard error only if no candidate loads.
    FLoadAttempts.append(reason.startsWith(path) ? reason : path + QStringLiteral(": ") + reason);
}

QString TDynamicDll::LoadedLibraryFile() const
{
    return IsHandleValid() ? platform::LibraryFileOf(AsPointer(FDLLHandle)) : QString();
}

void TDynamicDll::UnloadDll()
{
    if (!IsHandleValid())
        return;
    BeforeUnload();
    platform::CloseLibrary(AsPointer(FDLLHandle));
    FDLLHandle = 0;
}

void TDynamicDll::Quit()
{
    ShowErrorBox(QuitMessage());
    std::fflush(stdout);
    std::fflush(stderr);
    std::exit(1);
}

void* TDynamicDll::ImportSymbol(const char* Name, bool MustExist)
{
    errno = 0;
    void* p = IsHandleValid() ? platform::LibrarySymbol(AsPointer(FDLLHandle), Name) : nullptr;
    if (!p && MustExist) {
        FLastErrorCode = errno;
        ReportDlError();
        EDLLImportError e(platform::Format(QStringLiteral("Error %d: could not map symbol \"%s\""),
                                           {QString::number(FLastErrorCode), QString::fromUtf8(Name)}));
        e.ErrorCode = FLastErrorCode;
        e.WrongFunc = QByteArray(Name);
        throw e;
    }
    return p;
}

void TDynamicDll::ShowErrorBox(const QString& text)
{
    platform::MessageRequest r;
    r.owner = nullptr;
    r.text = text;
    r.caption = QStringLiteral("Error");
    r.type = platform::MsgDlgType::mtError;
    r.buttons = platform::mbOK;
    r.applicationModal = true;
    platform::CurrentDialogs().MessageBox(r);
}

void TDynamicDll::BeforeLoad()
{
    if (OnBeforeLoad)
        OnBeforeLoad(this);
}

void TDynamicDll::AfterLoad()
{
    if (OnAfterLoad)
        OnAfterLoad(this);
}

void TDynamicDll::BeforeUnload()
{
    if (OnBeforeUnload)
        OnBeforeUnload(this);
}

QString TDynamicDll::QuitMessage()
{
    return platform::Format(QStringLiteral("Dll %s could not be loaded. We must quit."), {FDllName});
}

void TDynamicDll::OpenLibraryFile(const QString& aDllName) { OpenLibraryFileOnly(aDllName); }

void TDynamicDll::OpenLibraryFileOnly(const QString& aDllName)
{
    if (IsHandleValid())
        return;
    FDllName = aDllName;
    const QString path = LibraryFolder() + FDllName;
    // A runtime is never unmapped: the extension modules it loaded stay
    // mapped and call into it, and it cannot be started again cleanly.
    const platform::LibraryOpenResult opened = platform::OpenLibrary(path.toUtf8());
    if (!opened.handle) {
        FLastErrorCode = opened.errorCode;
        NoteFailedAttempt(path, opened.error);
        return;
    }
    FDLLHandle = reinterpret_cast<uintptr_t>(opened.handle);
    const QString refusal = RefusalOfLoadedLibrary();
    if (refusal.isEmpty())
        return;
    const QString file = LoadedLibraryFile();
    FDLLHandle = 0;
    platform::CloseLibrary(opened.handle);
    FLastErrorCode = 0;
    NoteFailedAttempt(file.isEmpty() ? path : file, refusal);
}

void TDynamicDll::RegisteredInstallFound(const QString&) {}

QString TDynamicDll::LibraryFolder()
{
    QString result = FDllPath;
    if (FDllPath.isEmpty() && !FInExtensionModule) {
        result.clear();
        const TRegisteredInstall r = FindRegisteredInstall(FRegVersion);
        if (r.Found)
            RegisteredInstallFound(r.InstallPath);
        result = r.InstallPath;
    }
    if (!result.isEmpty() && !result.endsWith(u'/'))
        result += u'/';
    return result;
}

bool TDynamicDll::IsInitializedRuntime()
{
    using TBuildInfo = const char* (*)();
    using TIsInitialized = int (*)();
    auto buildInfo = reinterpret_cast<TBuildInfo>(ImportSymbol("Py_GetBuildInfo", false));
    auto isInitialized = reinterpret_cast<TIsInitialized>(ImportSymbol("Py_IsInitialized", false));
    return buildInfo && isInitialized && buildInfo() != nullptr && isInitialized() != 0;
}

void TDynamicDll::ReadLoadedRuntimeVersion()
{
    using TGetPath = wchar_t* (*)();
    using TGetVersion = const char* (*)();
    auto fullPath = reinterpret_cast<TGetPath>(ImportSymbol("Py_GetProgramFullPath"));
    auto getVersion = reinterpret_cast<TGetVersion>(ImportSymbol("Py_GetVersion"));
    const wchar_t* p = fullPath();
    SetDllName(QFileInfo(p ? QString::fromWCharArray(p) : QString()).fileName());
    const TRuntimeVersion v = ParseRuntimeVersion(QString::fromUtf8(getVersion()));
    const QString version = v.Ok ? QStringLiteral("%1.%2").arg(v.Major).arg(v.Minor) : QString();
    for (const TPythonVersionProp& row : KnownPythonVersions) {
        if (version == QLatin1String(row.RegVersion)) {
            FRegVersion = QString::fromLatin1(row.RegVersion);
            FAPIVersion = row.APIVersion;
            return;
        }
    }
    throw EDLLLoadError(QStringLiteral("Undetermined Python version from loaded module."));
}

void TDynamicDll::LoadDllInExtensionModule()
{
    if (platform::AddressInMainProgram(reinterpret_cast<const void*>(&AsPointer)))
        return; // not running as a loadable library
    FInExtensionModule = true;

    // 1. The host process's own image (and what it loaded globally).
    FDLLHandle = reinterpret_cast<uintptr_t>(platform::OpenProgramImage());
    if (IsInitializedRuntime()) {
        BeforeLoad();
        ReadLoadedRuntimeVersion();
        AfterLoad();
        return;
    }
    platform::CloseLibrary(AsPointer(FDLLHandle));
    FDLLHandle = 0;

    // 2. A runtime among the loaded modules.
    for (const QByteArray& name : platform::LoadedLibraryFiles()) {
        void* h = platform::OpenLoadedLibrary(name);
        if (!h)
            continue;
        FDLLHandle = reinterpret_cast<uintptr_t>(h);
        const bool found = IsInitializedRuntime();
        FDLLHandle = 0;
        if (found) {
            FDLLHandle = reinterpret_cast<uintptr_t>(h);
            BeforeLoad();
            ReadLoadedRuntimeVersion();
            AfterLoad();
            return;
        }
        platform::CloseLibrary(h);
    }

    // 3. Load it ourselves.
    LoadDll();
}

void TDynamicDll::Loaded()
{
    TComponent::Loaded();
    if (FAutoLoad)
        LoadDll();
}

} // namespace pybridge
