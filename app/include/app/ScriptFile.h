#pragma once
// Reading and writing script files: UTF-8 with a byte-order mark, CR LF.
#include "platform/Exception.h"

#include <QString>
#include <QStringList>

class EScriptFileError : public platform::Exception {
public:
    using platform::Exception::Exception;
};

// Splits at CR LF, lone CR or lone LF; a break at the very end starts no
// further line, and the empty text has no lines.
QStringList SplitSavedLines(const QString& text);

// The bytes a save writes: EF BB BF, then every line in UTF-8 followed by CR LF.
// Throws platform::EEncodingError for a text with a lone surrogate, which
// UTF-8 cannot hold.
QByteArray ScriptFileBytes(const QString& text);

// Writes through a temporary file in the same folder that is renamed over the
// target (keeping its permissions), so a failure, a full disk included, leaves
// any previous file intact. In a folder the user cannot write to, a writable
// file is rewritten in place after a copy of the new text went to
// UserStateFolder()/save-copies; a failure then keeps that copy and names it.
// Throws EScriptFileError("ファイル "%s" を作成できません。%s"), also for a
// text UTF-8 cannot hold (then no file is touched).
void SaveScriptFile(const QString& path, const QString& text);
// The same for bytes already encoded (an exported page, say).
void SaveDocumentFile(const QString& path, const QByteArray& bytes);

// Reads a UTF-8 file (with or without a byte-order mark) as text; its line
// breaks stay as they are, the editor takes CR LF, LF and CR alike. Throws
// EScriptFileError("ファイル "%s" を開けません。%s") when the file cannot be
// read, is not a regular file (a pipe, device, socket or folder is refused
// without waiting), is larger than platform::EditableFileLimit(), or is not
// valid UTF-8.
QString LoadScriptFile(const QString& path);

// Folder the file dialogs open in: that of the current file, else that of the
// newest recent file whose folder still exists, else the home folder (never
// the working folder, which a desktop launcher sets to anything).
QString DialogStartFolder(const QString& currentFile, const QStringList& recentFiles);
