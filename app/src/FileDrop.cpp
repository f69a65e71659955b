#include "app/FileDrop.h"

#include <QAbstractScrollArea>
#include <QDropEvent>
#include <QMimeData>
#include <QUrl>
#include <QWidget>

QStringList DroppedLocalFiles(const QMimeData* data)
{
    QStringList files;
    if (!data || !data->hasUrls())
        return files;
    for (const QUrl& url : data->urls())
        if (url.isLocalFile() && !url.toLocalFile().isEmpty())
            files << url.toLocalFile();
    return files;
}

TFileDropFilter::TFileDropFilter(QObject* owner, TOnDropFiles onDropFiles)
    : QObject(owner), FOnDropFiles(std::move(onDropFiles))
{
}

void TFileDropFilter::Watch(std::initializer_list<QWidget*> widgets, std::function<bool()> takesFiles)
{
    for (QWidget* widget : widgets) {
        widget->setAcceptDrops(true);
        widget->installEventFilter(this);
        if (takesFiles)
            FTakesFiles.insert(widget, takesFiles);
        // A scroll area's drops arrive at its viewport.
        if (auto* area = qobject_cast<QAbstractScrollArea*>(widget)) {
            area->viewport()->setAcceptDrops(true);
            area->viewport()->installEventFilter(this);
            if (takesFiles)
                FTakesFiles.insert(area->viewport(), takesFiles);
        }
    }
}

bool TFileDropFilter::eventFilter(QObject* watched, QEvent* event)
{
    switch (event->type()) {
    case QEvent::DragEnter:
    case QEvent::DragMove:
    case QEvent::Drop: {
        auto* drop = static_cast<QDropEvent*>(event);
        const QStringList files = DroppedLocalFiles(drop->mimeData());
        if (files.isEmpty())
            return QObject::eventFilter(watched, event);
        if (const auto takes = FTakesFiles.constFind(watched); takes != FTakesFiles.constEnd() && !(*takes)()) {
            drop->ignore();
            return true;
        }
        // Copy, never move: a file manager deletes the source of an accepted move.
        if (!(drop->possibleActions() & Qt::CopyAction)) {
            drop->ignore();
            return true;
        }
        drop->setDropAction(Qt::CopyAction);
        drop->accept();
        if (event->type() == QEvent::Drop && FOnDropFiles)
            FOnDropFiles(files);
        return true;
    }
    default:
        return QObject::eventFilter(watched, event);
    }
}
