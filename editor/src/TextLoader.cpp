#include "editor/TextLoader.h"

#include <QIODevice>

namespace editor {

void TTextLoader::LoadFromStream(TLineBuffer& lines, QIODevice& stream, std::optional<TEncoding> encoding)
{
    TLineBufferUpdate batch(lines);
    platform::TDecodeOptions options;
    options.encoding = encoding;
    options.defaultEncoding = FDefaultEncoding;
    options.detectUtf8 = FDetectUTF8;
    options.utf8CheckLen = FUTF8CheckLen;
    const platform::TDecodedText decoded = platform::DecodeText(stream.readAll(), options);
    FWriteBOM = decoded.hadPreamble;
    FEncoding = decoded.encoding;
    SetText(lines, decoded.text);
}

bool TTextLoader::SaveToStream(const TLineBuffer& lines, QIODevice& stream, std::optional<TEncoding> encoding)
{
    TEncoding enc = encoding ? *encoding : FEncoding;
    const QString text = lines.GetSeparatedText(platform::LineBreakOf(FFileFormat).toString());
    if (enc == TEncoding::ANSI && OnInfoLoss && platform::HasLoneSurrogate(text)) {
        bool cancel = false;
        OnInfoLoss(enc, cancel);
        if (cancel)
            return false;
        if (enc != TEncoding::ANSI)
            FEncoding = enc;
    }
    const QByteArray bytes = platform::EncodeText(text, enc, FWriteBOM);
    if (stream.write(bytes) != bytes.size())
        throw ELineBuffer(platform::Format(QStringLiteral("Cannot write the text: %s"), {stream.errorString()}));
    return true;
}

void TTextLoader::SetText(TLineBuffer& lines, const QString& text)
{
    const TTextFileFormat format = lines.SetText(text);
    // An empty text has no breaks to judge; the style read before stays.
    if (!text.isEmpty())
        FFileFormat = format;
}

} // namespace editor
