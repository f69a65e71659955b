#pragma once
#include <functional>

class QApplication;
class TSDIAppForm;

// Program start: the main window first (with its history loaded), then the
// hidden About dialog. Returns the main window, which the caller shows.
TSDIAppForm* CreateWorkbench();

// Sets up the application object's look (icon theme, fonts) before any window.
void PrepareApplication(QApplication& app);

// The whole program: start, show, run the message loop. onShown runs once the
// main window is shown (the start-up benchmark uses it to stop there).
int RunWorkbench(int argc, char** argv, const std::function<void(TSDIAppForm&)>& onShown = {});
