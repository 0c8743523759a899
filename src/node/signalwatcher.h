#pragma once

#include <QObject>

class QSocketNotifier;

// Turns SIGINT and SIGTERM into a signal of the event loop. The handler only
// writes the signal number into a pipe (all it may do safely); the loop reads
// it and emits received().
class SignalWatcher : public QObject
{
    Q_OBJECT
public:
    explicit SignalWatcher(QObject* parent = nullptr);
    ~SignalWatcher() override;

    // Installs the handlers; one watcher per process. False when the pipe or
    // a handler could not be set up.
    bool install();

signals:
    void received(int signalNumber);

private:
    void readPipe();

    QSocketNotifier* m_notifier = nullptr;
};
