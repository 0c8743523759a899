#pragma once

#include <QByteArray>
#include <QObject>
#include <QString>

class QSocketNotifier;

// Reads command lines from a file descriptor (standard input) inside the
// event loop: the descriptor is read only when it is readable, one read per
// wake-up, so the node never blocks on its input.
class StdinReader : public QObject
{
    Q_OBJECT
public:
    // Longest line kept; a longer one is cut there (the rest is dropped).
    static constexpr qsizetype MaxLineBytes = 1 << 20;

    explicit StdinReader(int fd = 0, QObject* parent = nullptr);

    // False when the descriptor is closed or cannot be watched.
    bool start();

signals:
    // One line without its line end (LF or CR LF), decoded as UTF-8.
    void lineRead(const QString& line);
    // The input ended (or failed); no more lines come.
    void endOfInput();

private:
    void readAvailable();
    void finish();

    int m_fd;
    QSocketNotifier* m_notifier = nullptr;
    QByteArray m_pending;
    bool m_overlong = false;
};
