#pragma once

#include "nethelpers/upnptext.h"

#include <QByteArray>
#include <QHostAddress>
#include <QObject>
#include <QPointer>
#include <QString>

#include <functional>

class CUPNPSocket;
class QTcpSocket;
class QTimer;
class QUdpSocket;

// Where the router configuration log goes: the "UPNP Router Configuration"
// dialog's log box, the node's console, a test's recorder.
class UpnpLog
{
public:
    virtual ~UpnpLog() = default;
    // One status line; clear: the log starts afresh with it.
    virtual void upnpStatus(const QString& line, bool clear) = 0;
};

// The address and port the SSDP search goes to: $ZEPHLINK_SSDP_ADDRESS
// ("host:port") when set, else the build's default. Returns false with
// nothing set when the text is not an address and a port.
bool SsdpTarget(QHostAddress& address, quint16& port);
bool ParseHostPort(const QString& text, QHostAddress& address, quint16& port);

// One HTTP exchange with the device at a time, each on a new connection.
// Every piece of the answer is handed to the owner with the whole answer so
// far; the owner decides only once the answer is whole (or the device closed).
class CUPNPHttpSocket : public QObject
{
    Q_OBJECT
public:
    // An answer longer than this ends the exchange.
    static constexpr qsizetype MaxResponse = 1 << 20;
    // An exchange that has not finished after this long is dropped.
    static constexpr int DeadlineMs = 30000;

    explicit CUPNPHttpSocket(CUPNPSocket* owner);
    ~CUPNPHttpSocket() override;

    // Closes any open exchange (dropping an unfinished send) and connects
    // anew; request is sent once connected.
    void Start(const QByteArray& host, quint16 port, const QByteArray& request, int kind);
    // Stops the notifications and closes the connection.
    void Close();
    bool isOpen() const { return m_socket != nullptr; }

private:
    void OnConnect(bool failed);
    bool SendRequest(const QByteArray& text);
    void OnSend(qint64 written);
    void OnReceive();
    void OnClose();

    CUPNPSocket* owner;
    QTcpSocket* m_socket = nullptr;
    QTimer* m_deadline = nullptr;
    QByteArray sendBuffer;
    qint64 sentBytes = 0;
    qint64 sendLength = 0;
    QByteArray response;
    int requestKind = 0;
    quint16 port = 0;
    QByteArray host;
    QByteArray request;
    bool m_connected = false;
    bool m_decided = false;
};

// The router port mapping jobs: finds the Internet gateway device by an SSDP
// search, reads its description for the WANIPConnection control address and
// adds, deletes, checks or lists mappings over SOAP. Every step becomes a
// line in the log. Lives on the main thread; nothing here blocks.
class CUPNPSocket : public QObject
{
    Q_OBJECT
public:
    enum Mode { MapMode = 1, UnmapMode = 2, RemapMode = 3, ListMode = 4 };

    explicit CUPNPSocket(QObject* parent = nullptr);
    ~CUPNPSocket() override;

    // The log (may be null: then nothing is shown); must outlive the socket.
    void setLog(UpnpLog* log) { logWindow = log; }
    // Where the search goes; default SsdpTarget().
    void setSearchTarget(const QHostAddress& address, quint16 port);
    // The local addresses FindLanAddress chooses from; default LocalIpv4Addresses().
    void setLocalAddressSource(std::function<QList<QHostAddress>()> source);

    void MapPort(int port, int useTcp = 1,
                 const QString& description = QString::fromLatin1(upnp::MappingDescription));
    void UnmapPort(int port, int useTcp = 1);
    void RemapPort(int oldPort, int newPort, int useTcp = 1,
                   const QString& description = QString::fromLatin1(upnp::MappingDescription));
    void ListMappings();

    // The whole text of the log.
    const QString& logContents() const { return logText; }
    QByteArray lanAddressText() const { return lanAddress; }

    // From the HTTP side: the whole answer so far; complete when it is whole
    // or the device closed. True when a verdict was reached.
    bool OnResponse(const QByteArray& text, int kind, bool complete);
    // The device closed the connection before a verdict.
    void OnDeviceClosed(int kind);

    void ShowStatus(const QString& text, bool clear = false);

private:
    void StartSearch();
    void OnSsdpReceive();
    void RequestDescription(const QByteArray& url);
    void SendSoap(upnp::RequestKind kind, bool mPost);
    bool repeatAsMPost(const QByteArray& text, upnp::RequestKind kind);
    bool descriptionAnswer(const QByteArray& text);
    bool deleteAnswer(const QByteArray& text);
    bool addAnswer(const QByteArray& text);
    bool specificAnswer(const QByteArray& text);
    bool genericAnswer(const QByteArray& text);
    void closeUdp();

    QByteArray lanAddress;
    int port = 0;
    int oldPort = 0;
    int useTcp = 1;
    QByteArray description;
    int mode = 0;
    quint32 entryIndex = 0;
    QString logText;
    UpnpLog* logWindow = nullptr;
    CUPNPHttpSocket httpSocket;
    QByteArray controlPath;
    QByteArray deviceHost;
    quint16 devicePort = 0;

    QUdpSocket* m_udp = nullptr;
    QHostAddress m_targetAddress;
    quint16 m_targetPort = 0;
    bool m_targetValid = false;
    std::function<QList<QHostAddress>()> m_localAddresses;
    // The form of the request in flight, so a 405 is answered once in M-POST.
    bool m_lastWasMPost = false;
    // Requests left in this job: a device cannot keep a job going forever.
    int m_budget = 0;
    // Search answers still read: a flood of answers cannot fill the log.
    int m_answersLeft = 0;
};
