#include "platform/Dialogs.h"

#include <QAbstractButton>
#include <QPushButton>
#include <QApplication>
#include <QFileDialog>
#include <QInputDialog>
#include <QMessageBox>

namespace platform {

namespace {

QWidget* OwnerOr(QWidget* owner)
{
    return owner ? owner : QApplication::activeWindow();
}

} // namespace

ModalResult QtDialogs::MessageBox(const MessageRequest& request)
{
    QMessageBox box(OwnerOr(request.owner));
    box.setText(request.text);
    box.setWindowTitle(request.caption);
    switch (request.type) {
    case MsgDlgType::mtWarning: box.setIcon(QMessageBox::Warning); break;
    case MsgDlgType::mtError: box.setIcon(QMessageBox::Critical); break;
    case MsgDlgType::mtInformation: box.setIcon(QMessageBox::Information); break;
    case MsgDlgType::mtConfirmation: box.setIcon(QMessageBox::Question); break;
    case MsgDlgType::mtCustom: box.setIcon(QMessageBox::NoIcon); break;
    }
    if (request.applicationModal)
        box.setWindowModality(Qt::ApplicationModal);
    struct Pair { MsgDlgBtn mine; QMessageBox::StandardButton qt; ModalResult result; };
    const Pair pairs[] = {
        {mbYes, QMessageBox::Yes, ModalResult::mrYes},
        {mbNo, QMessageBox::No, ModalResult::mrNo},
        {mbOK, QMessageBox::Ok, ModalResult::mrOk},
        {mbCancel, QMessageBox::Cancel, ModalResult::mrCancel},
        {mbAbort, QMessageBox::Abort, ModalResult::mrAbort},
        {mbRetry, QMessageBox::Retry, ModalResult::mrRetry},
        {mbIgnore, QMessageBox::Ignore, ModalResult::mrIgnore},
    };
    QMessageBox::StandardButtons buttons;
    for (const Pair& p : pairs)
        if (request.buttons.testFlag(p.mine))
            buttons |= p.qt;
    if (!buttons)
        buttons = QMessageBox::Ok;
    box.setStandardButtons(buttons);
    for (const auto& [mine, caption] : request.captions)
        for (const Pair& p : pairs)
            if (p.mine == mine)
                if (QAbstractButton* b = box.button(p.qt))
                    b->setText(caption);
    for (const Pair& p : pairs)
        if (p.mine == request.defaultButton)
            box.setDefaultButton(p.qt);
    if (request.closeCancels && !request.buttons.testFlag(mbCancel)) {
        // An invisible Cancel takes Esc and the window's close button.
        QPushButton* cancel = box.addButton(QMessageBox::Cancel);
        cancel->hide();
        box.setEscapeButton(cancel);
    }
    int answer = box.exec();
    for (const Pair& p : pairs)
        if (answer == p.qt)
            return p.result;
    return request.buttons.testFlag(mbCancel) || request.closeCancels ? ModalResult::mrCancel : ModalResult::mrNone;
}

std::optional<QString> QtDialogs::FileDialog(const FileDialogRequest& request)
{
    QFileDialog dialog(OwnerOr(request.owner), request.title, request.folder, ToQtFilter(request.filter));
    dialog.setAcceptMode(request.save ? QFileDialog::AcceptSave : QFileDialog::AcceptOpen);
    dialog.setFileMode(request.save ? QFileDialog::AnyFile : QFileDialog::ExistingFile);
    // Existing files are replaced without a question, as the save command expects.
    dialog.setOption(QFileDialog::DontConfirmOverwrite, true);
    QString ext = request.defaultExt.startsWith(u'.') ? request.defaultExt.mid(1) : request.defaultExt;
    dialog.setDefaultSuffix(ext);
    if (!request.fileName.isEmpty())
        dialog.selectFile(request.fileName);
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty())
        return std::nullopt;
    return ApplyDefaultExt(dialog.selectedFiles().constFirst(), request.defaultExt);
}

std::optional<QString> QtDialogs::InputBox(const InputRequest& request)
{
    QInputDialog dialog(OwnerOr(request.owner));
    dialog.setWindowTitle(request.caption);
    dialog.setLabelText(request.prompt);
    dialog.setTextValue(request.value);
    dialog.setInputMode(QInputDialog::TextInput);
    FOpenInputBox = &dialog;
    const bool ok = dialog.exec() == QDialog::Accepted;
    FOpenInputBox = nullptr;
    if (!ok)
        return std::nullopt;
    return dialog.textValue();
}

void QtDialogs::CancelInputBox()
{
    if (FOpenInputBox)
        FOpenInputBox->reject();
}

} // namespace platform
