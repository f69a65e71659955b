#pragma once
#include <QStringList>
#include <functional>

class QApplication;
class QCoreApplication;
class TSDIAppForm;

// Program start: the main window first (with its history loaded), then the
// hidden About dialog. Returns the main window, which the caller shows.
TSDIAppForm* CreateWorkbench();

// Sets up the application object's look (icon theme, fonts) before any window.
void PrepareApplication(QApplication& app);

// Qt's own dialogs and buttons in the user's language, from Qt's translations
// for the system locale; the program's own texts are not translated. False
// when there is no translation for that language (Qt's texts stay English).
bool InstallQtTranslations(QCoreApplication& app);

// Opens the file named on the command line as Open does, then shows the
// window; an error opening it is shown over the window once that is up.
void ShowWorkbench(TSDIAppForm& form, const QStringList& arguments);

// The whole program: start, show, run the message loop. onShown runs once the
// main window is shown (the start-up benchmark uses it to stop there).
// --help and --version print and return before any window.
int RunWorkbench(int argc, char** argv, const std::function<void(TSDIAppForm&)>& onShown = {});
