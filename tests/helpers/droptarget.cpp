// A drop target in a process of its own, for the X desktop test: a window at the top left of
// the screen that accepts a drop and prints what it got, one line each, then quits:
//   formats: <the offered formats>
//   file: <local path> <bytes read from it>
// It prints "ready" once its window is on the screen.

#include <QApplication>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFile>
#include <QMimeData>
#include <QTimer>
#include <QWidget>

#include <cstdio>

class Target : public QWidget {
public:
    Target()
    {
        setAcceptDrops(true);
        setWindowFlag(Qt::FramelessWindowHint);
        setGeometry(0, 0, 400, 400);
    }

protected:
    void dragEnterEvent(QDragEnterEvent *event) override { event->acceptProposedAction(); }
    void dragMoveEvent(QDragMoveEvent *event) override { event->acceptProposedAction(); }
    void dropEvent(QDropEvent *event) override
    {
        const QMimeData *data = event->mimeData();
        std::printf("formats: %s\n", qPrintable(data->formats().join(QLatin1Char(' '))));
        // The data are fetched from the source now, after the drop, as file managers do.
        for (const QUrl &url : data->urls()) {
            QFile file(url.toLocalFile());
            const qint64 size = file.open(QIODevice::ReadOnly) ? file.readAll().size() : -1;
            std::printf("file: %s %lld\n", qPrintable(url.toLocalFile()), size);
        }
        std::printf("text: %s\n", qPrintable(data->text().simplified()));
        std::fflush(stdout);
        event->acceptProposedAction();
        QTimer::singleShot(200, qApp, &QApplication::quit);
    }
    void showEvent(QShowEvent *) override
    {
        QTimer::singleShot(300, this, [] {
            std::printf("ready\n");
            std::fflush(stdout);
        });
    }
};

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    Target target;
    target.show();
    QTimer::singleShot(120000, &app, &QApplication::quit); // never outlives a stuck test
    return app.exec();
}
