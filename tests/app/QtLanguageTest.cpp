// Runs under a Japanese locale (see CMakeLists.txt): Qt's own dialogs and
// buttons speak the user's language, the program's texts stay as they are.
#include "app/SDIMain.h"
#include "app/Startup.h"
#include "platform/Dialogs.h"

#include <QApplication>
#include <QDir>
#include <QFileDialog>
#include <QLocale>
#include <QMessageBox>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTimer>

#include <gtest/gtest.h>

#include <algorithm>
#include <functional>

namespace {

// Lets look() see the modal dialog once it is up, then closes it.
void WhenModal(const std::function<void(QWidget*)>& look)
{
    QTimer::singleShot(0, [look] {
        QWidget* modal = QApplication::activeModalWidget();
        look(modal);
        if (auto* dialog = qobject_cast<QDialog*>(modal))
            dialog->reject();
    });
}

class QtLanguage : public ::testing::Test {
protected:
    static void SetUpTestSuite() { ASSERT_TRUE(InstallQtTranslations(*qApp)) << "no Qt translation for " << QLocale().name().toStdString(); }
};

} // namespace

TEST_F(QtLanguage, TheLocaleIsJapanese) { EXPECT_EQ(QLocale().language(), QLocale::Japanese); }

TEST_F(QtLanguage, MessageBoxButtonsAreJapanese)
{
    QStringList texts;
    WhenModal([&](QWidget* modal) {
        auto* box = qobject_cast<QMessageBox*>(modal);
        ASSERT_NE(box, nullptr);
        for (auto b : {QMessageBox::Yes, QMessageBox::No, QMessageBox::Cancel})
            texts << box->button(b)->text();
        // The program's own text is untouched.
        EXPECT_EQ(box->text(), QStringLiteral("ファイルが変更されています"));
    });
    platform::QtDialogs dialogs;
    platform::MessageRequest ask;
    ask.text = QStringLiteral("ファイルが変更されています");
    ask.caption = QStringLiteral("警告");
    ask.type = platform::MsgDlgType::mtWarning;
    ask.buttons = platform::mbYes | platform::mbNo | platform::mbCancel;
    EXPECT_EQ(dialogs.MessageBox(ask), platform::ModalResult::mrCancel);
    ASSERT_EQ(texts.size(), 3);
    EXPECT_TRUE(texts[0].startsWith(QStringLiteral("はい"))) << texts[0].toStdString();
    EXPECT_TRUE(texts[1].startsWith(QStringLiteral("いいえ"))) << texts[1].toStdString();
    EXPECT_TRUE(texts[2].startsWith(QStringLiteral("キャンセル"))) << texts[2].toStdString();

    QString ok;
    WhenModal([&](QWidget* modal) { ok = qobject_cast<QMessageBox*>(modal)->button(QMessageBox::Ok)->text(); });
    ask.buttons = platform::mbOK;
    dialogs.MessageBox(ask);
    EXPECT_FALSE(ok.isEmpty());
}

TEST_F(QtLanguage, FileDialogIsJapaneseAndStartsInTheGivenFolder)
{
    QTemporaryDir folder;
    QString lookIn, fileType, directory;
    WhenModal([&](QWidget* modal) {
        auto* dialog = qobject_cast<QFileDialog*>(modal);
        ASSERT_NE(dialog, nullptr);
        lookIn = dialog->labelText(QFileDialog::LookIn);
        fileType = dialog->labelText(QFileDialog::FileType);
        directory = dialog->directory().absolutePath();
    });
    platform::QtDialogs dialogs;
    platform::FileDialogRequest request;
    request.filter = TSDIAppForm::OpenDialogFilter;
    request.folder = folder.path();
    EXPECT_EQ(dialogs.FileDialog(request), std::nullopt);
    EXPECT_EQ(directory, QDir(folder.path()).absolutePath());
    EXPECT_NE(lookIn, QStringLiteral("Look in:"));
    EXPECT_NE(fileType, QStringLiteral("Files of type:"));
    // Japanese script, not the English source text.
    EXPECT_TRUE(std::any_of(fileType.begin(), fileType.end(), [](QChar c) { return c.unicode() > 0x3000; }))
        << fileType.toStdString();
}
