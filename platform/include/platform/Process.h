#pragma once
// Facts about the running process, and the host's 8-bit text conversion.
#include <QByteArray>
#include <QString>

namespace platform {

// Full path of the executable, and its folder (no trailing slash).
QString ExecutablePath();
QString ExecutableFolder();
// The executable's file name after its last '/', cut before its first '.'.
QString ApplicationTitle();
QString ApplicationTitleOf(const QString& exePath);

// The user's state folder for this program ($XDG_STATE_HOME/quorbel, by
// default ~/.local/state/quorbel); not created here.
QString UserStateFolder();

// Lowers the calling thread's scheduling priority to the least, for work
// that must never compete with the user interface.
void SetCurrentThreadBackground();

// True on the thread that created the application object (or, before one
// exists, the thread that first asked).
bool IsMainThread();

// Current time as whole universal seconds since 1970-01-01 (fraction dropped).
qint64 UniversalSecondsNow();

// Host text to the 8-bit code page (UTF-8 here) and back. Unpaired surrogates
// become the replacement character.
QByteArray ToAnsi(const QString& text);
QString FromAnsi(const QByteArray& bytes);

} // namespace platform
