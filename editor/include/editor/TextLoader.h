#pragma once
// Reads a line buffer's text from bytes and writes it back as it came: the
// encoding found or asked for, its byte-order mark and the line-break style
// are kept here between a load and the next save.
#include <QByteArray>
#include <QString>

#include <functional>
#include <optional>

#include "editor/LineBuffer.h"
#include "platform/TextCodec.h"

class QIODevice;

namespace editor {

class TTextLoader {
public:
    // Saving a text the encoding cannot hold: the handler may pick another
    // encoding (kept for later saves) or cancel the save.
    using TInfoLossEvent = std::function<void(TEncoding& encoding, bool& cancel)>;

    // Reads the rest of the stream as one batch of the buffer; the lines are
    // replaced only once the bytes decoded (EEncodingError otherwise).
    void LoadFromStream(TLineBuffer& lines, QIODevice& stream, std::optional<TEncoding> encoding = std::nullopt);
    // Writes the lines joined by FileFormat's break. Returns false when an
    // OnInfoLoss handler cancelled the save; ELineBuffer when the stream fails.
    bool SaveToStream(const TLineBuffer& lines, QIODevice& stream, std::optional<TEncoding> encoding = std::nullopt);
    // Replaces the lines with text; a text that is not empty sets FileFormat
    // to the style of its breaks.
    void SetText(TLineBuffer& lines, const QString& text);

    TTextFileFormat FileFormat() const { return FFileFormat; }
    void SetFileFormat(TTextFileFormat value) { FFileFormat = value; }
    bool DetectUTF8() const { return FDetectUTF8; }
    void SetDetectUTF8(bool value) { FDetectUTF8 = value; }
    int UTF8CheckLen() const { return FUTF8CheckLen; }
    void SetUTF8CheckLen(int value) { FUTF8CheckLen = value; }
    bool WriteBOM() const { return FWriteBOM; }
    void SetWriteBOM(bool value) { FWriteBOM = value; }
    TEncoding Encoding() const { return FEncoding; }
    void SetEncoding(TEncoding value) { FEncoding = value; }
    TEncoding DefaultEncoding() const { return FDefaultEncoding; }
    void SetDefaultEncoding(TEncoding value) { FDefaultEncoding = value; }

    static QByteArray Preamble(TEncoding encoding) { return platform::Preamble(encoding); }

    TInfoLossEvent OnInfoLoss;

private:
    TTextFileFormat FFileFormat = sffDos;
    bool FDetectUTF8 = true;
    int FUTF8CheckLen = -1;
    bool FWriteBOM = false;
    TEncoding FEncoding = TEncoding::ANSI;
    TEncoding FDefaultEncoding = TEncoding::ANSI;
};

} // namespace editor
