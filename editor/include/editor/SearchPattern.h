#pragma once
// A search pattern compiled once and matched against one line at a time:
// a literal word or a regular expression, with match case and whole word.
#include <QString>
#include <QStringView>

#include <memory>

#include "platform/Exception.h"

namespace editor {

struct TSearchOptions {
    bool MatchCase = false;
    bool WholeWord = false;
    bool RegExp = false;
    friend bool operator==(const TSearchOptions&, const TSearchOptions&) = default;
};

// A match inside one line: 0-based UTF-16 start and end (end exclusive).
struct TLineMatch {
    int Start = 0;
    int End = 0;
    bool Empty() const { return Start == End; }
    friend bool operator==(const TLineMatch&, const TLineMatch&) = default;
};

enum class TMatchStatus { Found, NotFound, Error };

struct TMatchResult {
    TMatchStatus Status = TMatchStatus::NotFound;
    TLineMatch Match;
    explicit operator bool() const { return Status == TMatchStatus::Found; }
};

// A search that stopped because the pattern needed too much work or
// memory on some line (catastrophic backtracking).
class ESearchError : public platform::Exception {
public:
    using platform::Exception::Exception;
};

// Identifier characters for whole-word matching: letters (Japanese
// included), digits and the underscore, as in Python names.
bool IsSearchWordChar(char32_t c);

class TSearchPattern {
public:
    // An empty or invalid pattern gives a pattern that matches nothing;
    // ErrorText() says why an expression did not compile.
    TSearchPattern();
    TSearchPattern(const QString& pattern, TSearchOptions options);
    ~TSearchPattern();
    TSearchPattern(TSearchPattern&&) noexcept;
    TSearchPattern& operator=(TSearchPattern&&) noexcept;

    const QString& Pattern() const { return FPattern; }
    TSearchOptions Options() const { return FOptions; }
    bool IsValid() const { return FValid; }
    QString ErrorText() const { return FError; }

    // The first match in line that starts at or after from. notEmptyAtFrom
    // refuses an empty match at from itself, so a pattern that matches the
    // empty string still moves on. Status Error: the match limit stopped
    // the expression (ErrorText of the result is LastError()).
    TMatchResult Next(QStringView line, int from, bool notEmptyAtFrom = false) const;
    // The last of the successive matches of the line that starts before
    // before (before = line length + 1 takes an empty match at the end too).
    TMatchResult Previous(QStringView line, int before) const;
    // The match that starts exactly at start, if any.
    TMatchResult At(QStringView line, int start) const;
    // The replacement for the match last returned by At or Next on line:
    // for expressions "$n", "${n}" and "${name}" insert groups and "$$" a
    // dollar sign; a literal search inserts the text as it stands.
    QString Expand(QStringView line, const QString& replacement) const;
    QString LastError() const;

private:
    class TRegex;
    TMatchResult NextLiteral(QStringView line, int from, bool notEmptyAtFrom) const;
    bool WordBoundsOk(QStringView line, int start, int end) const;

    QString FPattern;
    TSearchOptions FOptions;
    bool FValid = false;
    QString FError;
    std::unique_ptr<TRegex> FRegex;
    // Literal search: the first code unit in both letter cases.
    char16_t FFirstA = 0;
    char16_t FFirstB = 0;
    bool FFastFirst = false;
};

} // namespace editor
