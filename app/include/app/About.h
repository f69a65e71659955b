#pragma once
#include <QDialog>

class QLabel;
class QPushButton;
class QFrame;

// The About dialog: shows its design-time texts; nothing fills them.
class TAboutBox : public QDialog {
    Q_OBJECT
public:
    explicit TAboutBox(QWidget* parent = nullptr);

    QFrame* Panel1;
    QLabel* ProgramIcon;
    QLabel* ProductName;
    QLabel* Version;
    QLabel* Copyright;
    QLabel* Comments;
    QPushButton* OKButton;
};

// Created at program start, hidden; lives until the program ends.
extern TAboutBox* AboutBox;
