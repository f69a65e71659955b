#include "platform/TextCodec.h"

#include <QStringDecoder>
#include <QtEndian>

#include <algorithm>

namespace platform {

QByteArray Preamble(TEncoding encoding)
{
    switch (encoding) {
    case TEncoding::UTF8:
        return QByteArray("\xEF\xBB\xBF", 3);
    case TEncoding::Unicode:
        return QByteArray("\xFF\xFE", 2);
    case TEncoding::BigEndianUnicode:
        return QByteArray("\xFE\xFF", 2);
    case TEncoding::ANSI:
        break;
    }
    return QByteArray();
}

QString EncodingName(TEncoding encoding)
{
    switch (encoding) {
    case TEncoding::ANSI:
    case TEncoding::UTF8:
        return QStringLiteral("UTF-8");
    case TEncoding::Unicode:
        return QStringLiteral("UTF-16LE");
    case TEncoding::BigEndianUnicode:
        return QStringLiteral("UTF-16BE");
    }
    return QString();
}

qsizetype ValidUtf8Prefix(const char* data, qsizetype size, bool truncatedOk)
{
    const auto* s = reinterpret_cast<const unsigned char*>(data);
    qsizetype i = 0;
    while (i < size) {
        const unsigned char c = s[i];
        if (c < 0x80) {
            ++i;
            continue;
        }
        int need;
        unsigned lo = 0x80, hi = 0xBF; // allowed range of the second byte
        if (c >= 0xC2 && c <= 0xDF)
            need = 1;
        else if (c >= 0xE0 && c <= 0xEF) {
            need = 2;
            if (c == 0xE0)
                lo = 0xA0;
            else if (c == 0xED)
                hi = 0x9F; // no encoded surrogates
        } else if (c >= 0xF0 && c <= 0xF4) {
            need = 3;
            if (c == 0xF0)
                lo = 0x90;
            else if (c == 0xF4)
                hi = 0x8F;
        } else
            return i;
        for (int k = 1; k <= need; ++k) {
            if (i + k >= size)
                return truncatedOk ? size : i;
            const unsigned char b = s[i + k];
            if (k == 1 ? (b < lo || b > hi) : (b < 0x80 || b > 0xBF))
                return i;
        }
        i += need + 1;
    }
    return i;
}

bool HasLoneSurrogate(QStringView text)
{
    const char16_t* p = text.utf16();
    const qsizetype n = text.size();
    for (qsizetype i = 0; i < n; ++i) {
        const char16_t c = p[i];
        if (c < 0xD800 || c > 0xDFFF)
            continue;
        if (c <= 0xDBFF && i + 1 < n && p[i + 1] >= 0xDC00 && p[i + 1] <= 0xDFFF) {
            ++i;
            continue;
        }
        return true;
    }
    return false;
}

namespace {

bool IsEightBit(TEncoding encoding) { return encoding == TEncoding::ANSI || encoding == TEncoding::UTF8; }

QString DecodeUtf8(QByteArrayView data, TEncoding encoding, qsizetype offset)
{
    // The 8-bit code page is UTF-8: a byte sequence that is not UTF-8 cannot
    // be shown faithfully, so it is refused rather than mangled.
    const qsizetype valid = ValidUtf8Prefix(data.data(), data.size(), false);
    if (valid != data.size())
        throw EEncodingError(Format(QStringLiteral("The text is not valid %s: invalid byte sequence at byte %d"),
            {EncodingName(encoding), QString::number(valid + offset)}));
    // The preamble is already cut off: a mark left in the data is a character
    // of the text, which fromUtf8 would drop.
    return QStringDecoder(QStringDecoder::Utf8, QStringDecoder::Flag::ConvertInitialBom).decode(data);
}

QString DecodeUtf16(QByteArrayView data, TEncoding encoding)
{
    if (data.size() % 2 != 0)
        throw EEncodingError(Format(
            QStringLiteral("The text is not valid %s: its length is an odd number of bytes"), {EncodingName(encoding)}));
    QString text(data.size() / 2, Qt::Uninitialized);
    char16_t* out = reinterpret_cast<char16_t*>(text.data());
    for (qsizetype i = 0; i < data.size() / 2; ++i)
        out[i] = encoding == TEncoding::Unicode ? qFromLittleEndian<char16_t>(data.data() + 2 * i)
                                                : qFromBigEndian<char16_t>(data.data() + 2 * i);
    return text;
}

} // namespace

TDecodedText DecodeText(QByteArrayView bytes, const TDecodeOptions& options)
{
    TEncoding encoding = options.encoding.value_or(options.defaultEncoding);
    qsizetype preambleLength = 0;
    if (options.encoding) {
        const QByteArray preamble = Preamble(encoding);
        if (!preamble.isEmpty() && bytes.startsWith(preamble))
            preambleLength = preamble.size();
    } else {
        for (TEncoding candidate : {TEncoding::UTF8, TEncoding::Unicode, TEncoding::BigEndianUnicode}) {
            const QByteArray preamble = Preamble(candidate);
            if (bytes.startsWith(preamble)) {
                encoding = candidate;
                preambleLength = preamble.size();
                break;
            }
        }
    }
    const QByteArrayView data = bytes.sliced(preambleLength);
    if (encoding == TEncoding::ANSI && options.detectUtf8) {
        const qsizetype checkLen = std::min<qsizetype>(data.size(), options.utf8CheckLen > 0 ? options.utf8CheckLen : 16384);
        if (ValidUtf8Prefix(data.data(), checkLen, checkLen < data.size()) == checkLen)
            encoding = TEncoding::UTF8;
    }
    QString text = IsEightBit(encoding) ? DecodeUtf8(data, encoding, preambleLength) : DecodeUtf16(data, encoding);
    return {std::move(text), encoding, preambleLength > 0};
}

QByteArray EncodeText(QStringView text, TEncoding encoding, bool withPreamble)
{
    QByteArray bytes = withPreamble ? Preamble(encoding) : QByteArray();
    if (IsEightBit(encoding)) {
        if (HasLoneSurrogate(text))
            throw EEncodingError(Format(
                QStringLiteral("The text cannot be saved as %s: it contains an unpaired surrogate character"),
                {EncodingName(encoding)}));
        bytes += text.toUtf8();
        return bytes;
    }
    const qsizetype start = bytes.size();
    bytes.resize(start + text.size() * 2);
    const char16_t* in = text.utf16();
    for (qsizetype i = 0; i < text.size(); ++i) {
        if (encoding == TEncoding::Unicode)
            qToLittleEndian<char16_t>(in[i], bytes.data() + start + 2 * i);
        else
            qToBigEndian<char16_t>(in[i], bytes.data() + start + 2 * i);
    }
    return bytes;
}

QStringView LineBreakOf(TTextFileFormat format)
{
    static constexpr char16_t kBreaks[] = u"\r\n\u2028";
    switch (format) {
    case sffUnix:
        return QStringView(kBreaks + 1, 1);
    case sffMac:
        return QStringView(kBreaks, 1);
    case sffUnicode:
        return QStringView(kBreaks + 2, 1);
    case sffDos:
        break;
    }
    return QStringView(kBreaks, 2);
}

TTextFileFormat TLineBreakStyle::Format() const
{
    if (FSeenLS)
        return sffUnicode;
    if (FSeenCR && !FSeenLF)
        return sffMac;
    if (FSeenLF && !FSeenCR)
        return sffUnix;
    return sffDos;
}

} // namespace platform
