#include "JsonReference.h"

namespace fuzz {

namespace {

constexpr int kMaxContainers = 512;

class Reader {
public:
    explicit Reader(const QString& text) : s_(text) {}

    std::optional<JsonValue> Document()
    {
        if (At(0xFEFF))
            ++i_;
        SkipSpace();
        JsonValue v;
        if (!Value(v, 0) || i_ != s_.size())
            return std::nullopt;
        return v;
    }

private:
    bool At(char16_t c) const { return i_ < s_.size() && s_.at(i_).unicode() == c; }
    bool Eat(char16_t c)
    {
        if (!At(c))
            return false;
        ++i_;
        return true;
    }
    void SkipSpace()
    {
        while (At(u' ') || At(u'\t') || At(u'\n') || At(u'\r'))
            ++i_;
    }

    bool Value(JsonValue& v, int depth)
    {
        if (At(u'{'))
            return ObjectValue(v, depth + 1);
        if (At(u'['))
            return ArrayValue(v, depth + 1);
        if (At(u'"')) {
            v.kind = JsonValue::String;
            return StringText(v.text);
        }
        if (At(u'-') || (i_ < s_.size() && s_.at(i_) >= u'0' && s_.at(i_) <= u'9'))
            return NumberValue(v);
        for (auto [word, kind] : {std::pair{u"true", JsonValue::True}, std::pair{u"false", JsonValue::False},
                 std::pair{u"null", JsonValue::Null}}) {
            const QString w = QString::fromUtf16(word);
            if (QStringView(s_).mid(i_).startsWith(w)) {
                i_ += w.size();
                v.kind = kind;
                return true;
            }
        }
        return false;
    }

    bool ObjectValue(JsonValue& v, int depth)
    {
        v.kind = JsonValue::Object;
        return Items(u'}', depth, [&] {
            QString key;
            if (!At(u'"') || !StringText(key))
                return false;
            SkipSpace();
            if (!Eat(u':'))
                return false;
            SkipSpace();
            JsonValue member;
            if (!Value(member, depth))
                return false;
            v.members.emplace_back(std::move(key), std::move(member));
            return true;
        });
    }

    bool ArrayValue(JsonValue& v, int depth)
    {
        v.kind = JsonValue::Array;
        return Items(u']', depth, [&] {
            JsonValue element;
            if (!Value(element, depth))
                return false;
            v.elements.push_back(std::move(element));
            return true;
        });
    }

    // The comma-separated items of an object or array, from its opening
    // character to the close given; item reads one.
    template <class Item>
    bool Items(char16_t close, int depth, Item item)
    {
        if (depth > kMaxContainers)
            return false;
        ++i_;
        SkipSpace();
        if (!Eat(close)) {
            for (;;) {
                if (!item())
                    return false;
                SkipSpace();
                if (Eat(close))
                    break;
                if (!Eat(u','))
                    return false;
                SkipSpace();
            }
        }
        SkipSpace();
        return true;
    }

    static int Hex(QChar c)
    {
        const char16_t u = c.unicode();
        if (u >= u'0' && u <= u'9')
            return u - u'0';
        if (u >= u'a' && u <= u'f')
            return u - u'a' + 10;
        if (u >= u'A' && u <= u'F')
            return u - u'A' + 10;
        return -1;
    }

    bool StringText(QString& out)
    {
        ++i_;
        for (;;) {
            if (i_ >= s_.size())
                return false;
            const QChar c = s_.at(i_++);
            if (c == u'"')
                return true;
            if (c != u'\\') {
                out += c;
                continue;
            }
            if (i_ >= s_.size())
                return false;
            const char16_t e = s_.at(i_++).unicode();
            switch (e) {
            case u'"': out += u'"'; break;
            case u'\\': out += u'\\'; break;
            case u'/': out += u'/'; break;
            case u'b': out += QChar(8); break;
            case u'f': out += QChar(12); break;
            case u'n': out += QChar(10); break;
            case u'r': out += QChar(13); break;
            case u't': out += QChar(9); break;
            case u'u': {
                int unit = 0;
                for (int k = 0; k < 4; ++k) {
                    if (i_ >= s_.size() || Hex(s_.at(i_)) < 0)
                        return false;
                    unit = unit * 16 + Hex(s_.at(i_++));
                }
                out += QChar(char16_t(unit));
                break;
            }
            default:
                return false;
            }
        }
    }

    bool Digit() const { return i_ < s_.size() && s_.at(i_) >= u'0' && s_.at(i_) <= u'9'; }
    bool Digits()
    {
        if (!Digit())
            return false;
        while (Digit())
            ++i_;
        return true;
    }

    bool NumberValue(JsonValue& v)
    {
        const qsizetype start = i_;
        Eat(u'-');
        if (Eat(u'0')) {
            if (Digit())
                return false;
        } else if (!Digits()) {
            return false;
        }
        if (Eat(u'.') && !Digits())
            return false;
        if (Eat(u'e') || Eat(u'E')) {
            if (!Eat(u'+'))
                Eat(u'-');
            if (!Digits())
                return false;
        }
        v.kind = JsonValue::Number;
        v.text = s_.mid(start, i_ - start);
        return true;
    }

    const QString& s_;
    qsizetype i_ = 0;
};

void PrintString(QString& out, const QString& s)
{
    out += u'"';
    for (QChar c : s) {
        switch (c.unicode()) {
        case u'"': out += u"\\\""; break;
        case u'\\': out += u"\\\\"; break;
        case u'/': out += u"\\/"; break;
        case 8: out += u"\\b"; break;
        case 9: out += u"\\t"; break;
        case 10: out += u"\\n"; break;
        case 12: out += u"\\f"; break;
        case 13: out += u"\\r"; break;
        default: out += c;
        }
    }
    out += u'"';
}

void Print(QString& out, const JsonValue& v, const QString& indent)
{
    const QString inner = indent + QStringLiteral("    ");
    switch (v.kind) {
    case JsonValue::Object:
        out += u"{\r\n";
        for (std::size_t i = 0; i < v.members.size(); ++i) {
            out += inner;
            PrintString(out, v.members[i].first);
            out += u": ";
            Print(out, v.members[i].second, inner);
            out += i + 1 < v.members.size() ? u",\r\n" : u"\r\n";
        }
        out += indent + u'}';
        break;
    case JsonValue::Array:
        out += u"[\r\n";
        for (std::size_t i = 0; i < v.elements.size(); ++i) {
            out += inner;
            Print(out, v.elements[i], inner);
            out += i + 1 < v.elements.size() ? u",\r\n" : u"\r\n";
        }
        out += indent + u']';
        break;
    case JsonValue::String: PrintString(out, v.text); break;
    case JsonValue::Number: out += v.text; break;
    case JsonValue::True: out += u"true"; break;
    case JsonValue::False: out += u"false"; break;
    case JsonValue::Null: out += u"null"; break;
    }
}

} // namespace

std::optional<JsonValue> ParseJsonReference(const QString& text) { return Reader(text).Document(); }

QString PrintJsonReference(const JsonValue& value)
{
    QString out;
    Print(out, value, QString());
    return out;
}

} // namespace fuzz
