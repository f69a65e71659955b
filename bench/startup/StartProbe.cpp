// Starts the workbench exactly as the program does and quits once the main
// window has been shown and the first round of events has run.
#include "app/SDIMain.h"
#include "app/Startup.h"

#include <QApplication>
#include <QTimer>

int main(int argc, char** argv)
{
    return RunWorkbench(argc, argv, [](TSDIAppForm&) { QTimer::singleShot(0, qApp, &QApplication::quit); });
}
