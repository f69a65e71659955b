#pragma once
// Text files as bytes: byte-order marks, the UTF-8 check and the line-break
// style a text uses. Reading and writing whole files is in FileIO.h, included
// here for the callers that found it here.
#include <QByteArray>
#include <QString>
#include <QStringView>

#include <optional>

#include "platform/Exception.h"
#include "platform/FileIO.h"

namespace platform {

class EEncodingError : public Exception {
public:
    using Exception::Exception;
};

// ANSI is the system's 8-bit code page, which is UTF-8 here (written without
// a preamble).
enum class TEncoding { ANSI, UTF8, Unicode, BigEndianUnicode };

enum TTextFileFormat { sffDos = 0, sffUnix = 1, sffMac = 2, sffUnicode = 3 };

QByteArray Preamble(TEncoding encoding);
QString EncodingName(TEncoding encoding);

// Length of the valid UTF-8 prefix of data (a sequence cut by the end of data
// counts as valid when truncatedOk). Encoded surrogates and overlong forms
// are invalid.
qsizetype ValidUtf8Prefix(const char* data, qsizetype size, bool truncatedOk);
bool HasLoneSurrogate(QStringView text);

struct TDecodeOptions {
    // Given: the text is read in it, and only its own preamble is skipped.
    // Else a preamble decides, and without one defaultEncoding is used.
    std::optional<TEncoding> encoding;
    TEncoding defaultEncoding = TEncoding::ANSI;
    // ANSI text whose first utf8CheckLen bytes (16384 when <= 0) are UTF-8
    // is read as UTF-8.
    bool detectUtf8 = true;
    int utf8CheckLen = -1;
};

struct TDecodedText {
    QString text;
    TEncoding encoding;
    bool hadPreamble;
};

// Throws EEncodingError for bytes that are not valid in the encoding; a
// U+FEFF after the preamble is a character of the text and is kept.
TDecodedText DecodeText(QByteArrayView bytes, const TDecodeOptions& options = {});

// Throws EEncodingError when the text has a lone surrogate and the encoding
// is 8-bit: such a character cannot be written, and dropping it would save
// something else than was shown.
QByteArray EncodeText(QStringView text, TEncoding encoding, bool withPreamble);

QStringView LineBreakOf(TTextFileFormat format);

// Collects the breaks a text uses and names its style: any U+2028 makes it
// Unicode, only CRs Mac, only LFs Unix, anything else (mixed, none) DOS.
class TLineBreakStyle {
public:
    void Note(QStringView lineBreak)
    {
        if (lineBreak.isEmpty())
            return;
        const char16_t first = lineBreak.front().unicode();
        FSeenLS |= first == 0x2028;
        FSeenCR |= first == 13;
        FSeenLF |= lineBreak.back().unicode() == 10;
    }
    TTextFileFormat Format() const;

private:
    bool FSeenCR = false, FSeenLF = false, FSeenLS = false;
};

} // namespace platform
