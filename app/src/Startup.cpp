#include "app/Startup.h"

#include "app/About.h"
#include "app/CommandLine.h"
#include "app/ErrorBox.h"
#include "app/SDIMain.h"
#include "platform/TerminationSignals.h"

#include <QApplication>
#include <QDir>
#include <QIcon>
#include <QLibraryInfo>
#include <QLocale>
#include <QTranslator>

#include <cstdio>
#include <exception>
#include <memory>
#include <optional>

namespace {

// Catches what a handler let escape, so one failed command never ends the program.
class TApplication : public QApplication {
public:
    using QApplication::QApplication;
    bool notify(QObject* receiver, QEvent* event) override
    {
        try {
            return QApplication::notify(receiver, event);
        } catch (const std::exception& error) {
            ShowException(error);
            return false;
        }
    }
};

// --help and --version need no display: they are answered before the
// application object exists. Returns the exit code, or nothing to go on.
std::optional<int> AnswerInformationOptions(int argc, char** argv)
{
    QStringList arguments;
    for (int i = 0; i < argc; ++i)
        arguments << QString::fromLocal8Bit(argv[i]);
    QString text;
    switch (StartActionOf(arguments)) {
    case TStartAction::saRun:
        return std::nullopt;
    case TStartAction::saHelp:
        text = UsageText(arguments.value(0).section(u'/', -1));
        break;
    case TStartAction::saVersion:
        text = VersionText();
        break;
    }
    std::fputs(text.toLocal8Bit().constData(), stdout);
    return std::fflush(stdout) == 0 ? 0 : 1;
}

} // namespace

bool InstallQtTranslations(QCoreApplication& app)
{
    auto translator = std::make_unique<QTranslator>(&app);
    if (!translator->load(QLocale(), QStringLiteral("qtbase"), QStringLiteral("_"),
                          QLibraryInfo::path(QLibraryInfo::TranslationsPath)))
        return false;
    QCoreApplication::installTranslator(translator.release());
    return true;
}

void ShowWorkbench(TSDIAppForm& form, const QStringList& arguments)
{
    // Opened before the first paint, so the window never shows the default
    // script first; a failure waits until the window can own its error box.
    std::exception_ptr failure;
    if (auto file = StartupFileOf(arguments, QDir::currentPath())) {
        try {
            form.OpenScript(*file);
        } catch (const std::exception&) {
            failure = std::current_exception();
        }
    }
    form.show();
    if (failure)
        RunGuarded([&] { std::rethrow_exception(failure); }, &form);
    // For this session only; a problem is reported once the window can own the box.
    if (const auto python = PythonOptionOf(arguments))
        RunGuarded([&] { form.UsePythonEnvironment(*python, false); }, &form);
    RunGuarded([&] { form.OfferRecovery(); }, &form);
}

void PrepareApplication(QApplication&)
{
    // Without a desktop session there is often no icon theme: use the one the
    // set-up installs, so the toolbar shows pictures rather than fallbacks.
    const QString theme = QIcon::themeName();
    if ((theme.isEmpty() || theme == QLatin1String("hicolor")) && QDir(QStringLiteral("/usr/share/icons/Adwaita")).exists())
        QIcon::setThemeName(QStringLiteral("Adwaita"));
    // Ties the windows to the installed desktop entry and takes its icon.
    QGuiApplication::setDesktopFileName(QStringLiteral(QUORBEL_APP_ID));
    QApplication::setWindowIcon(QIcon::fromTheme(QStringLiteral(QUORBEL_APP_ID)));
}

TSDIAppForm* CreateWorkbench()
{
    auto* form = new TSDIAppForm();
    AboutBox = new TAboutBox(form);
    AboutBox->hide();
    return form;
}

int RunWorkbench(int argc, char** argv, const std::function<void(TSDIAppForm&)>& onShown)
{
    if (auto exitCode = AnswerInformationOptions(argc, argv))
        return *exitCode;
    TApplication app(argc, argv);
    QCoreApplication::setApplicationVersion(QStringLiteral(QUORBEL_VERSION));
    InstallQtTranslations(app);
    PrepareApplication(app);
    TSDIAppForm* form = nullptr;
    try {
        form = CreateWorkbench();
    } catch (const std::exception& error) {
        ShowException(error);
        return 1;
    }
    // Child processes and descriptor writes of scripts show in the window.
    form->SetProcessOutputCapture(true);
    // A logout or kill ends the program through the window, which keeps
    // unsaved work in its journal.
    platform::TTerminationSignals terminations;
    QObject::connect(&terminations, &platform::TTerminationSignals::Requested, form, &TSDIAppForm::TerminateBySignal);
    ShowWorkbench(*form, QCoreApplication::arguments());
    if (onShown)
        onShown(*form);
    // A signal answered while a box shown at start was open ended the window
    // before the loop ran: a loop started now would never end.
    int rc = form->EndedBySignal() ? 0 : app.exec();
    AboutBox = nullptr;
    delete form;
    return rc;
}
