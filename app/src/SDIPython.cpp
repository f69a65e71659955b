// The main window's choice of Python: the virtual environment scripts run
// in, where the runtime is looked for, and what the window says is in use.
#include "app/SDIMain.h"

#include "app/ErrorBox.h"
#include "app/TestRun.h"
#include "platform/Dialogs.h"
#include "platform/Process.h"
#include "pybridge/PythonEngine.h"

#include <QDir>
#include <QStatusBar>

namespace {

const QString kPythonKey = QStringLiteral("\\Software\\Quorbel\\Python");
const QString kEnvironmentValue = QStringLiteral("Environment");

const QString SEnvironmentCaption = QStringLiteral("Python 環境");
const QString SEnvironmentPrompt =
    QStringLiteral("仮想環境のフォルダーまたはその python のパス（空欄: システムの Python）:");
const QString SEnvironmentNextStart = QStringLiteral("選んだ Python 環境は次回の起動から使われます。");
const QString SStoredEnvironmentUnusable = QStringLiteral("保存された Python 環境は使えません: %1");
const QString SSystemPython = QStringLiteral("Python: システム");
const QString SEnvironmentPython = QStringLiteral("Python: 仮想環境 %1");
const QString SLoadedPython = QStringLiteral("Python %1");
const QString SLoadedInEnvironment = QStringLiteral("Python %1（仮想環境 %2）");

} // namespace

QList<pybridge::TLibraryCandidate> TSDIAppForm::RuntimeSearch() const
{
    return RuntimeCandidates(platform::ExecutableFolder(), fEnvironment ? fEnvironment->Minor : 0);
}

bool TSDIAppForm::UsePythonEnvironment(const QString& folderOrPython, bool store)
{
    std::optional<TPythonEnvironment> chosen;
    if (!folderOrPython.trimmed().isEmpty()) {
        const TEnvironmentCheck check = CheckPythonEnvironment(folderOrPython, platform::ExecutableFolder());
        if (!check.Environment) {
            ShowErrorBox(check.Problem, this);
            return false;
        }
        chosen = check.Environment;
    }
    fEnvironment = chosen;
    if (store) {
        platform::Registry reg(platform::HKEY_CURRENT_USER);
        if (reg.OpenKey(kPythonKey, true))
            reg.WriteString(kEnvironmentValue, chosen ? chosen->Folder : QString());
    }
    // A started runtime cannot be swapped for another in the same process.
    if (PythonEngine->IsHandleValid())
        statusBar()->showMessage(SEnvironmentNextStart);
    else
        ShowPythonInUse();
    return true;
}

void TSDIAppForm::LoadPythonSettings()
{
    platform::Registry reg(platform::HKEY_CURRENT_USER);
    if (!reg.OpenKeyReadOnly(kPythonKey) || !reg.ValueExists(kEnvironmentValue)) {
        ShowPythonInUse();
        return;
    }
    const QString stored = reg.ReadString(kEnvironmentValue);
    if (!stored.isEmpty()) {
        // An environment deleted since is no reason for a box at start: the
        // system's Python serves, and the status bar says why.
        const TEnvironmentCheck check = CheckPythonEnvironment(stored, platform::ExecutableFolder());
        fEnvironment = check.Environment;
        if (!check.Environment)
            statusBar()->showMessage(SStoredEnvironmentUnusable.arg(check.Problem));
    }
    ShowPythonInUse();
}

void TSDIAppForm::FilePython1Execute()
{
    platform::InputRequest r;
    r.owner = this;
    r.caption = SEnvironmentCaption;
    r.prompt = SEnvironmentPrompt;
    r.value = fEnvironment ? fEnvironment->Folder : QString();
    if (const std::optional<QString> answer = platform::CurrentDialogs().InputBox(r))
        UsePythonEnvironment(*answer, true);
}

QString TSDIAppForm::PythonInUseText() const
{
    const QString environment = fEnvironment ? QDir::toNativeSeparators(fEnvironment->Folder) : QString();
    if (!PythonEngine->IsHandleValid() || PythonEngine->RuntimeVersion().isEmpty())
        return fEnvironment ? SEnvironmentPython.arg(environment) : SSystemPython;
    const QString version = PythonEngine->RuntimeVersion();
    return fEnvironment ? SLoadedInEnvironment.arg(version, environment) : SLoadedPython.arg(version);
}

void TSDIAppForm::ShowPythonInUse()
{
    lblPython->setText(PythonInUseText());
    lblPython->setToolTip(PythonEngine->LoadedLibraryFile());
}
