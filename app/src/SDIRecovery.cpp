// The main window's side of recovery: the question at start, and the end
// that a termination signal asks for.
#include "app/SDIMain.h"

#include "app/ErrorBox.h"
#include "app/RecoveryJournal.h"
#include "platform/Dialogs.h"
#include "widgets/CodeEditorControl.h"

#include <QCoreApplication>
#include <QFile>
#include <QLocale>

namespace {

const QString SRecoverCaption = QStringLiteral("復元");
const QString SRecoverQuestion =
    QStringLiteral("保存されていない編集内容が残っています。\n\nファイル: %1\n記録した時刻: %2\n\n復元しますか？");
const QString SRecoverAfterRun = QStringLiteral("前回は %1 の実行中に終了しました。\n");
const QString SUntitled = QStringLiteral("無題");
const QString SJournalDamaged = QStringLiteral("復元用の記録 \"%1\" を読み込めません（%2）。\"%3\" に移しました");
const QString SJournalDamagedKept = QStringLiteral("復元用の記録 \"%1\" を読み込めません（%2）");

QString RecoveryQuestion(const TFoundJournal& found)
{
    const TJournalMeta& meta = found.record.meta;
    const QString name = meta.fileName.isEmpty() ? SUntitled : meta.fileName;
    const QString when = meta.written.toLocalTime().toString(QStringLiteral("yyyy/MM/dd HH:mm:ss"));
    QString text = SRecoverQuestion.arg(name, when);
    if (!found.runningFunction.isEmpty())
        text.prepend(SRecoverAfterRun.arg(found.runningFunction));
    return text;
}

} // namespace

void TSDIAppForm::OfferRecovery()
{
    auto reportDamage = [this](const TJournalDamage& d) {
        ShowErrorBox(QFile::exists(d.setAsideAs) ? SJournalDamaged.arg(d.path, d.reason, d.setAsideAs)
                                                 : SJournalDamagedKept.arg(d.path, d.reason),
                     this);
    };
    std::optional<TFoundJournal> found = ClaimOrphanJournal(RecoveryFolder(), reportDamage);
    if (!found)
        return;
    platform::MessageRequest ask;
    ask.owner = this;
    ask.text = RecoveryQuestion(*found);
    ask.caption = SRecoverCaption;
    ask.type = platform::MsgDlgType::mtWarning;
    ask.buttons = platform::mbYes | platform::mbNo;
    ask.captions = {{platform::mbYes, QStringLiteral("復元")}, {platform::mbNo, QStringLiteral("破棄")}};
    ask.defaultButton = platform::mbYes;
    ask.closeCancels = true;
    switch (platform::CurrentDialogs().MessageBox(ask)) {
    case platform::ModalResult::mrYes: {
        const TJournalRecord& record = found->record;
        SetEditorText(record.text);
        fFilePath = record.meta.fileName;
        fOrigScript = record.text;
        fRestored = true;
        sePythonCode->Engine().SetCaretXY({record.meta.caretChar, record.meta.caretLine});
        sePythonCode->Engine().EnsureCursorPosVisible();
        UpdateTitle();
        // The text is in this program's journal before the old one goes.
        if (FJournal->WriteNow())
            RemoveJournal(*found);
        break;
    }
    case platform::ModalResult::mrNo:
        RemoveJournal(*found);
        break;
    default:
        break; // asked again at the next start
    }
}

void TSDIAppForm::TerminateBySignal()
{
    if (IsRunning()) {
        fAfterRun = TAfterRun::arEndBySignal;
        StopRun();
        return;
    }
    EndBySignal();
}

void TSDIAppForm::EndBySignal()
{
    fEndingBySignal = true;
    if (IsModified())
        FJournal->Keep();
    else
        FJournal->Discard();
    close();
    // Ends an open dialog's loop too: nobody is there to answer it.
    QCoreApplication::exit(0);
}
