#pragma once
// A plain recursive JSON reader and printer for the result pane's rules,
// written for clarity rather than speed: the fuzz target compares the fast
// formatter against it.
#include <QString>

#include <memory>
#include <optional>
#include <utility>
#include <vector>

namespace fuzz {

struct JsonValue {
    enum Kind { Object, Array, String, Number, True, False, Null } kind = Null;
    QString text;                                   // String: decoded text; Number: as written
    std::vector<std::pair<QString, JsonValue>> members; // Object, duplicates kept in order
    std::vector<JsonValue> elements;                // Array

    bool operator==(const JsonValue&) const = default;
};

// The one value that makes up the whole text, or nothing.
std::optional<JsonValue> ParseJsonReference(const QString& text);

// Four-space indent, CR LF breaks, eight escapes and no others.
QString PrintJsonReference(const JsonValue& value);

} // namespace fuzz
