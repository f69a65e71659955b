#pragma once
// Files dropped from a file manager onto the window or the script pane.
#include <QHash>
#include <QObject>
#include <QStringList>

#include <functional>
#include <initializer_list>

class QMimeData;
class QWidget;

// The local files a drag carries, in their order; empty for anything else
// (plain text, remote addresses).
QStringList DroppedLocalFiles(const QMimeData* data);

// Takes drags that carry local files on the widgets it watches and hands the
// files over on the drop; every other drag (text dragged into or within the
// script pane) reaches the widget untouched and stays an edit.
class TFileDropFilter : public QObject {
public:
    using TOnDropFiles = std::function<void(const QStringList& files)>;

    TFileDropFilter(QObject* owner, TOnDropFiles onDropFiles);

    // Watches the widgets, and the viewport of each that is a scroll area.
    // While `takesFiles` answers false a widget does not take file drags:
    // they go on to its parent, and the widget never sees them.
    void Watch(std::initializer_list<QWidget*> widgets, std::function<bool()> takesFiles = {});

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    TOnDropFiles FOnDropFiles;
    QHash<QObject*, std::function<bool()>> FTakesFiles;
};
