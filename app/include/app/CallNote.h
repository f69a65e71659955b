#pragma once
// The status-bar note after a run whose chosen function took the wrong
// arguments: how the run calls funcN.
#include <QString>

// The note for a Python error of type name and text value, or an empty text
// when the error is not about the arguments of func1..func8.
QString CallConventionNote(const QString& name, const QString& value);
