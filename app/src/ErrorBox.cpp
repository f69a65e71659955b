#include "app/ErrorBox.h"

#include "platform/Dialogs.h"
#include "platform/Exception.h"
#include "platform/Process.h"

QString ErrorBoxText(const QString& message)
{
    if (!message.isEmpty() && message.back().unicode() > u'.')
        return message + u'.';
    return message;
}

void ShowErrorBox(const QString& message, QWidget* owner)
{
    platform::MessageRequest request;
    request.owner = owner;
    request.text = ErrorBoxText(message);
    request.caption = platform::ApplicationTitle();
    request.type = platform::MsgDlgType::mtError;
    request.buttons = platform::mbOK;
    platform::CurrentDialogs().MessageBox(request);
}

void ShowException(const std::exception& error, QWidget* owner)
{
    if (auto* own = dynamic_cast<const platform::Exception*>(&error))
        ShowErrorBox(own->Message(), owner);
    else
        ShowErrorBox(QString::fromUtf8(error.what()), owner);
}

void RunGuarded(const std::function<void()>& handler, QWidget* owner)
{
    try {
        handler();
    } catch (const std::exception& error) {
        ShowException(error, owner);
    }
}
