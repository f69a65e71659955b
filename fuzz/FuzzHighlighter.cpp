// The Python highlighter on any line from any start range: the tokens tile
// the line exactly, each token's text is its slice of the line, and scanning
// the line again from the same range - after the highlighter has been busy
// with another line - gives the same tokens and the same end range, which
// NextToEol reaches as well.
#include "FuzzInput.h"

#include "editor/PythonHighlighter.h"

#include <algorithm>
#include <vector>

namespace {

using namespace editor;

struct Token {
    int pos, length, kind;
    bool operator==(const Token&) const = default;
};

struct Scan {
    std::vector<Token> tokens;
    std::intptr_t endRange = 0;
};

bool IsRangeState(std::intptr_t range)
{
    const TRangeState kind = TPythonHighlighter::RangeKind(range);
    return kind >= rsANil && kind <= rsMultilineString3;
}

Scan Tokens(TPythonHighlighter& h, const QString& line, std::intptr_t range)
{
    using fuzz::Check;
    Scan scan;
    h.SetRange(range);
    h.SetLine(line, 0);
    int expected = 0;
    while (!h.GetEol()) {
        const Token t{h.GetTokenPos(), h.GetTokenLength(), h.GetTokenKind()};
        Check(t.pos == expected, "a token does not start where the one before ended", line);
        Check(t.kind >= tkComment && t.kind <= tkUnknown, "unknown token kind", line);
        Check((h.GetTokenAttribute() == nullptr) == (t.kind == tkNull), "only a null token has no attribute", line);
        const bool final = t.kind == tkNull && t.pos == line.size();
        Check(final || t.length > 0, "an empty token before the end of the line", line);
        Check(t.pos + t.length <= line.size(), "a token runs past the end of the line", line);
        Check(h.GetToken() == line.mid(t.pos, t.length) && h.GetTokenView() == QStringView(line).mid(t.pos, t.length),
              "token text is not its slice of the line", line);
        Check(scan.tokens.size() <= std::size_t(line.size()) + 2, "the scan makes no progress", line);
        scan.tokens.push_back(t);
        expected = t.pos + t.length;
        h.Next();
    }
    Check(expected == line.size(), "the tokens do not reach the end of the line", line);
    scan.endRange = h.GetRange();
    // A state the highlighter never produced may carry through a plain line.
    Check(!IsRangeState(range) || IsRangeState(scan.endRange), "the end range is not a range state", line);
    return scan;
}

// Ranges the editor stores (and -1 for a line not scanned yet), then any value.
std::intptr_t StartRange(fuzz::FuzzInput& in)
{
    static const std::intptr_t known[] = {rsANil, rsComment, rsUnKnown, rsMultilineString, rsMultilineString2,
        rsMultilineString3, rsMultilineString3DoubleQuote, -1};
    const int pick = in.Byte();
    if (pick < 0xF0)
        return known[pick % std::size(known)];
    std::intptr_t any = 0;
    for (int i = 0; i < 4; ++i)
        any = (any << 8) | in.Byte();
    return std::int32_t(any);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    using fuzz::Check;
    static TPythonHighlighter h;
    fuzz::FuzzInput in(data, size);
    const std::intptr_t range = StartRange(in);
    const QString line = in.RestAsText();

    const Scan first = Tokens(h, line, range);

    // Something else in between, from another range.
    QString other = line;
    std::reverse(other.begin(), other.end());
    h.SetRange(rsMultilineString2);
    h.SetLine(other, 1);
    h.NextToEol();

    const Scan second = Tokens(h, line, range);
    Check(first.tokens == second.tokens, "a second scan gives other tokens", line);
    Check(first.endRange == second.endRange, "a second scan ends in another range", line);

    h.SetRange(range);
    h.SetLine(line, 0);
    h.NextToEol();
    Check(h.GetRange() == first.endRange, "NextToEol ends in another range than stepping", line);
    return 0;
}
