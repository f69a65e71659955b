#include "app/About.h"

#include <QFrame>
#include <QLabel>
#include <QPushButton>

TAboutBox* AboutBox = nullptr;

TAboutBox::TAboutBox(QWidget* parent) : QDialog(parent)
{
    setObjectName(QStringLiteral("AboutBox"));
    setWindowTitle(QStringLiteral("バージョン情報"));
    QFont f(QStringLiteral("MS Sans Serif"));
    f.setPixelSize(11);
    setFont(f);
    setFixedSize(298, 218);
    setWindowFlag(Qt::MSWindowsFixedSizeDialogHint);

    Panel1 = new QFrame(this);
    Panel1->setObjectName(QStringLiteral("Panel1"));
    Panel1->setFrameStyle(QFrame::Panel | QFrame::Sunken);
    Panel1->setGeometry(8, 8, 281, 161);

    auto label = [this](const char* name, const QString& text, int x, int y) {
        auto* l = new QLabel(text, Panel1);
        l->setObjectName(QString::fromLatin1(name));
        l->move(x, y);
        return l;
    };
    ProgramIcon = label("ProgramIcon", QString(), 8, 8);
    ProgramIcon->resize(65, 57);
    ProductName = label("ProductName", QStringLiteral("製品名: "), 88, 16);
    Version = label("Version", QStringLiteral("バージョン"), 88, 40);
    // The third label shows its own component name, as designed.
    Copyright = label("Copyright", QStringLiteral("Copyright"), 8, 80);
    Comments = label("Comments", QStringLiteral("コメント"), 8, 104);
    Comments->setWordWrap(true);
    Comments->resize(265, 40);

    OKButton = new QPushButton(QStringLiteral("OK"), this);
    OKButton->setObjectName(QStringLiteral("OKButton"));
    OKButton->setGeometry(120, 178, 65, 33);
    OKButton->setDefault(true);
    OKButton->setFocus();
    connect(OKButton, &QPushButton::clicked, this, &QDialog::accept);
}
