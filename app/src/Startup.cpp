#include "app/Startup.h"

#include "app/About.h"
#include "app/ErrorBox.h"
#include "app/SDIMain.h"

#include <QApplication>
#include <QDir>
#include <QIcon>

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

} // namespace

void PrepareApplication(QApplication&)
{
    // Without a desktop session there is often no icon theme: use the one the
    // set-up installs, so the toolbar shows pictures rather than fallbacks.
    const QString theme = QIcon::themeName();
    if ((theme.isEmpty() || theme == QLatin1String("hicolor")) && QDir(QStringLiteral("/usr/share/icons/Adwaita")).exists())
        QIcon::setThemeName(QStringLiteral("Adwaita"));
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
    TApplication app(argc, argv);
    PrepareApplication(app);
    TSDIAppForm* form = nullptr;
    try {
        form = CreateWorkbench();
    } catch (const std::exception& error) {
        ShowException(error);
        return 1;
    }
    form->show();
    if (onShown)
        onShown(*form);
    int rc = app.exec();
    AboutBox = nullptr;
    delete form;
    return rc;
}
