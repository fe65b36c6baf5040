#include "workprogress.h"

#include <QEventLoop>
#include <QProgressDialog>
#include <QThread>
#include <QTimer>

#include <memory>

void PrepareWorkProgress(QProgressDialog &progress, const QString &objectName, const QString &title)
{
    progress.setObjectName(objectName);
    progress.setWindowTitle(title);
    progress.setWindowModality(Qt::WindowModal);
    progress.setMinimumDuration(400);
    progress.setAutoClose(false);
    progress.setAutoReset(false);
}

void RunOffWindowThread(const std::function<void()> &work, const std::function<void()> &tick, int intervalMs,
                        const std::function<void()> &stop)
{
    std::unique_ptr<QThread> worker(QThread::create(work));
    QEventLoop loop;
    QObject::connect(worker.get(), &QThread::finished, &loop, &QEventLoop::quit);
    QTimer timer;
    QObject::connect(&timer, &QTimer::timeout, &loop, tick);
    timer.start(intervalMs);
    worker->start();
    loop.exec();
    if (worker->isRunning())
        stop();
    worker->wait();
}
