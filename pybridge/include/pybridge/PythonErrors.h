#pragma once
// Host exceptions that mirror Python's exception classes. The C++ inheritance
// is the class tree, so a handler for a base catches every class below it.
#include "platform/Exception.h"

#include <QString>

namespace pybridge {

class EPythonError : public platform::Exception {
public:
    using platform::Exception::Exception;
    QString EName;  // the Python exception's type name
    QString EValue; // the text of the exception value
    // Replaces the message once the details are known.
    void SetMessageText(const QString& AMessage) { SetMessage(AMessage); }
};

#define PYBRIDGE_ERROR_CLASS(name, base)                                                           \
    class name : public base {                                                                      \
    public:                                                                                         \
        using base::base;                                                                           \
    };

PYBRIDGE_ERROR_CLASS(EPyExecError, EPythonError)
PYBRIDGE_ERROR_CLASS(EPyException, EPythonError)
PYBRIDGE_ERROR_CLASS(EPyStandardError, EPyException)
PYBRIDGE_ERROR_CLASS(EPyArithmeticError, EPyStandardError)
PYBRIDGE_ERROR_CLASS(EPyFloatingPointError, EPyArithmeticError)
PYBRIDGE_ERROR_CLASS(EPyOverflowError, EPyArithmeticError)
PYBRIDGE_ERROR_CLASS(EPyZeroDivisionError, EPyArithmeticError)
PYBRIDGE_ERROR_CLASS(EPyLookupError, EPyStandardError)
PYBRIDGE_ERROR_CLASS(EPyIndexError, EPyLookupError)
PYBRIDGE_ERROR_CLASS(EPyKeyError, EPyLookupError)
PYBRIDGE_ERROR_CLASS(EPyAssertionError, EPyStandardError)
PYBRIDGE_ERROR_CLASS(EPyAttributeError, EPyStandardError)
PYBRIDGE_ERROR_CLASS(EPyEOFError, EPyStandardError)
PYBRIDGE_ERROR_CLASS(EPyImportError, EPyStandardError)
PYBRIDGE_ERROR_CLASS(EPyKeyboardInterrupt, EPyStandardError)
PYBRIDGE_ERROR_CLASS(EPyMemoryError, EPyStandardError)
PYBRIDGE_ERROR_CLASS(EPyReferenceError, EPyStandardError)
PYBRIDGE_ERROR_CLASS(EPySystemError, EPyStandardError)
PYBRIDGE_ERROR_CLASS(EPyTypeError, EPyStandardError)
PYBRIDGE_ERROR_CLASS(EPyEnvironmentError, EPyStandardError)
PYBRIDGE_ERROR_CLASS(EPyIOError, EPyEnvironmentError)
PYBRIDGE_ERROR_CLASS(EPyOSError, EPyEnvironmentError)
PYBRIDGE_ERROR_CLASS(EPyWindowsError, EPyOSError)
PYBRIDGE_ERROR_CLASS(EPyNameError, EPyStandardError)
PYBRIDGE_ERROR_CLASS(EPyUnboundLocalError, EPyNameError)
PYBRIDGE_ERROR_CLASS(EPyRuntimeError, EPyStandardError)
PYBRIDGE_ERROR_CLASS(EPyNotImplementedError, EPyRuntimeError)
PYBRIDGE_ERROR_CLASS(EPyValueError, EPyStandardError)
PYBRIDGE_ERROR_CLASS(EPyUnicodeError, EPyValueError)
PYBRIDGE_ERROR_CLASS(UnicodeEncodeError, EPyUnicodeError)
PYBRIDGE_ERROR_CLASS(UnicodeDecodeError, EPyUnicodeError)
PYBRIDGE_ERROR_CLASS(UnicodeTranslateError, EPyUnicodeError)
PYBRIDGE_ERROR_CLASS(EPySystemExit, EPyException)
PYBRIDGE_ERROR_CLASS(EPyStopIteration, EPyException)
PYBRIDGE_ERROR_CLASS(EPyWarning, EPyException)
PYBRIDGE_ERROR_CLASS(EPyUserWarning, EPyWarning)
PYBRIDGE_ERROR_CLASS(EPyDeprecationWarning, EPyWarning)
PYBRIDGE_ERROR_CLASS(PendingDeprecationWarning, EPyWarning)
PYBRIDGE_ERROR_CLASS(FutureWarning, EPyWarning)
PYBRIDGE_ERROR_CLASS(EPySyntaxWarning, EPyWarning)
PYBRIDGE_ERROR_CLASS(EPyRuntimeWarning, EPyWarning)

// A syntax error carries where it happened.
class EPySyntaxError : public EPyStandardError {
public:
    using EPyStandardError::EPyStandardError;
    QString EFileName;
    QString ELineStr; // the offending line, trimmed
    qint32 ELineNumber = 0;
    qint32 EOffset = 0;
    qint32 EEndLineNumber = 0;
    qint32 EEndOffset = 0;
};
PYBRIDGE_ERROR_CLASS(EPyIndentationError, EPySyntaxError)
PYBRIDGE_ERROR_CLASS(EPyTabError, EPyIndentationError)

#undef PYBRIDGE_ERROR_CLASS

} // namespace pybridge
