#pragma once
#include <QStringList>

// The script the editor holds at start: 38 lines, the last seven empty.
QStringList DefaultScriptLines();
