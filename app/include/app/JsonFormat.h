#pragma once
#include <QString>

// The text the result pane shows for a function's result: one complete JSON
// value re-laid out (four-space indent, CR LF breaks); anything else unchanged.
// Never throws.
QString FormatJsonResult(const QString& text);
