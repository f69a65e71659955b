#pragma once
// Message boxes, file dialogs and the one-line input box behind one interface,
// so that tests can answer them in-process. The program uses QtDialogs.
#include <QDialog>
#include <QFlags>
#include <QPointer>
#include <QList>
#include <QString>
#include <optional>
#include <utility>

class QWidget;

namespace platform {

enum class MsgDlgType { mtWarning, mtError, mtInformation, mtConfirmation, mtCustom };

enum MsgDlgBtn {
    mbYes = 0x1,
    mbNo = 0x2,
    mbOK = 0x4,
    mbCancel = 0x8,
    mbAbort = 0x10,
    mbRetry = 0x20,
    mbIgnore = 0x40,
};
Q_DECLARE_FLAGS(MsgDlgButtons, MsgDlgBtn)
Q_DECLARE_OPERATORS_FOR_FLAGS(MsgDlgButtons)

enum class ModalResult { mrNone, mrOk, mrCancel, mrAbort, mrRetry, mrIgnore, mrYes, mrNo };

struct MessageRequest {
    QWidget* owner = nullptr; // parent window; none means the active window
    QString text;
    QString caption;
    MsgDlgType type = MsgDlgType::mtInformation;
    MsgDlgButtons buttons = mbOK;
    bool applicationModal = false; // task-modal
    // Captions that replace a button's standard one (a question whose answers
    // are verbs reads better with them).
    QList<std::pair<MsgDlgBtn, QString>> captions;
    // The button Enter presses; 0: the box's own choice.
    MsgDlgBtn defaultButton = MsgDlgBtn(0);
    // Closing the box or Esc answers mrCancel even without a Cancel button,
    // so that no answer is taken as "No".
    bool closeCancels = false;
};

struct FileDialogRequest {
    QWidget* owner = nullptr;
    bool save = false;
    QString title;
    // "Description|pattern|Description|pattern" as the dialogs' filter property holds it.
    QString filter;
    QString defaultExt; // appended when the chosen name has no extension ("py" or ".py")
    QString fileName;   // preset name (may carry a folder)
    QString folder;     // folder shown first when fileName carries none
};

struct InputRequest {
    QWidget* owner = nullptr;
    QString caption;
    QString prompt;
    QString value;
};

class Dialogs {
public:
    virtual ~Dialogs() = default;
    virtual ModalResult MessageBox(const MessageRequest& request) = 0;
    // The chosen file name, or nothing when cancelled.
    virtual std::optional<QString> FileDialog(const FileDialogRequest& request) = 0;
    // The entered text, or nothing when cancelled.
    virtual std::optional<QString> InputBox(const InputRequest& request) = 0;
    // Closes an open input box as if it were cancelled (a stopped script).
    virtual void CancelInputBox() {}
};

// The dialogs in use. Until SetDialogs is called this is a QtDialogs instance.
Dialogs& CurrentDialogs();
// Installs other dialogs (tests); nullptr goes back to QtDialogs. Returns the previous override.
Dialogs* SetDialogs(Dialogs* dialogs);

// Appends defaultExt (with or without a leading point) when fileName has no extension.
QString ApplyDefaultExt(const QString& fileName, const QString& defaultExt);
// Converts "Desc|pat1;pat2|..." into Qt's "Desc (pat1 pat2);;..." form.
QString ToQtFilter(const QString& filter);

class QtDialogs : public Dialogs {
public:
    ModalResult MessageBox(const MessageRequest& request) override;
    std::optional<QString> FileDialog(const FileDialogRequest& request) override;
    std::optional<QString> InputBox(const InputRequest& request) override;
    void CancelInputBox() override;

private:
    QPointer<QDialog> FOpenInputBox;
};

} // namespace platform
