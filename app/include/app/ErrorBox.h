#pragma once
// The application's error box: an error icon, OK, the application title as
// caption, and the message with "." appended when it ends above ".".
#include <QString>
#include <exception>
#include <functional>

class QWidget;

QString ErrorBoxText(const QString& message);
void ShowErrorBox(const QString& message, QWidget* owner = nullptr);
void ShowException(const std::exception& error, QWidget* owner = nullptr);

// Runs a command handler; an error it does not handle itself goes to the
// error box, and the window stays usable.
void RunGuarded(const std::function<void()>& handler, QWidget* owner = nullptr);
