#include "shares/browsethread.h"

#include "transport/callblocking.h"

#include <QLoggingCategory>
#include <QMetaObject>
#include <QMutexLocker>
#include <QTcpSocket>
#include <QThread>
#include <QTimer>
#include <QtEndian>

#include <utility>

#include <unistd.h>

Q_LOGGING_CATEGORY(lcBrowse, "zephlink.browse")

namespace {

QByteArray Int32Payload(int32_t value)
{
    QByteArray out(4, '\0');
    qToLittleEndian<int32_t>(value, out.data());
    return out;
}

} // namespace

// --- BrowseSessionShared ---

Identity BrowseSessionShared::ownIdentity()
{
    return callHost([](BrowseHost& host) { return host.ownIdentity(); });
}

std::optional<QString> BrowseSessionShared::peerName(const QByteArray& uid)
{
    return callHost([&](BrowseHost& host) { return host.peerName(uid); });
}

QList<QByteArray> BrowseSessionShared::sharedPathsFor(const QByteArray& uid)
{
    return callHost([&](BrowseHost& host) { return host.sharedPathsFor(uid); });
}

int BrowseSessionShared::sendRequested(const QByteArray& path, const QByteArray& uid)
{
    // A host that has gone refuses (its default would read as "queued").
    bool asked = false;
    const int code = callHost([&](BrowseHost& host) {
        asked = true;
        return host.sendRequested(path, uid);
    });
    return asked ? code : SendRefused;
}

void BrowseSessionShared::browsingStarted(BrowseId session, const QByteArray& uid)
{
    callHost([&](BrowseHost& host) { host.browsingStarted(session, uid); });
}

void BrowseSessionShared::browserOpened(BrowseId session, const QString& title)
{
    callHost([&](BrowseHost& host) { host.browserOpened(session, title); });
}

void BrowseSessionShared::browsingEnded(BrowseId session)
{
    postHost([session](BrowseHost& host) { host.browsingEnded(session); });
}

void BrowseSessionShared::entriesArrived(BrowseId session, const QList<ShareEntry>& entries)
{
    postHost([session, entries](BrowseHost& host) { host.entriesArrived(session, entries); });
}

void BrowseSessionShared::listEnded(BrowseId session)
{
    postHost([session](BrowseHost& host) { host.listEnded(session); });
}

void BrowseSessionShared::sendResultArrived(BrowseId session, int code)
{
    postHost([session, code](BrowseHost& host) { host.sendResultArrived(session, code); });
}

void BrowseSessionShared::browserClosed(BrowseId session)
{
    postHost([session](BrowseHost& host) { host.browserClosed(session); });
}

bool BrowseSessionShared::claimPeer(const QByteArray& uid)
{
    QMutexLocker locker(&m_peerMutex);
    int& n = m_peerSessions[uid];
    if (n >= MaxBrowseSessionsPerPeer)
        return false;
    ++n;
    return true;
}

void BrowseSessionShared::releasePeer(const QByteArray& uid)
{
    QMutexLocker locker(&m_peerMutex);
    auto it = m_peerSessions.find(uid);
    if (it != m_peerSessions.end() && --*it <= 0)
        m_peerSessions.erase(it);
}

// --- CBrowseSocket ---

CBrowseSocket::CBrowseSocket(CBrowseThread& session) : FramedSocket(&session), m_session(session) {}

void CBrowseSocket::OnConnected()
{
    m_session.onConnected();
}

void CBrowseSocket::OnHandshakeComplete()
{
    m_session.onHandshakeComplete();
}

void CBrowseSocket::OnFrame(uint8_t type, const QByteArray& plain)
{
    m_session.onFrame(type, plain);
}

void CBrowseSocket::OnConnectionClosed()
{
    m_session.onConnectionClosed();
}

// --- CBrowseThread ---

CBrowseThread::CBrowseThread(std::shared_ptr<BrowseSessionShared> shared, BrowseId id, bool reverse,
                             const Identity& ownIdentity, const Contact& peer)
    : m_shared(std::move(shared)), m_id(id), m_connector(true), m_reverse(reverse),
      m_ownIdentity(ownIdentity), m_peer(CopyContact(peer, false))
{
    m_role = reverse ? Role::Owner : Role::Viewer;
}

CBrowseThread::CBrowseThread(std::shared_ptr<BrowseSessionShared> shared, BrowseId id,
                             qintptr descriptor)
    : m_shared(std::move(shared)), m_id(id), m_connector(false), m_descriptor(descriptor),
      m_peer(NewContact())
{}

CBrowseThread::~CBrowseThread()
{
    if (m_descriptor >= 0)
        ::close(int(m_descriptor));
    if (m_peerClaimed)
        m_shared->releasePeer(m_peer.uid.bytes());
    m_shared->remove(m_id);
}

void CBrowseThread::start()
{
    m_startTimer = new QTimer(this);
    m_startTimer->setSingleShot(true);
    m_startTimer->setInterval(m_shared->startTimeoutMs.load());
    connect(m_startTimer, &QTimer::timeout, this, [this] {
        qCDebug(lcBrowse) << "session" << m_id << "did not start in time";
        endSession();
    });
    m_peer.sessionThread = m_id;
    if (!m_connector)
        m_ownIdentity = m_shared->ownIdentity();
    m_socket = new CBrowseSocket(*this);
    m_socket->SetKey(m_ownIdentity.key.bytes());
    connect(m_socket->socket(), &QTcpSocket::bytesWritten, this, [this] {
        if (m_waitingForWrite && m_socket->bytesToWrite() < MaxUnsentBytes / 2) {
            m_waitingForWrite = false;
            pumpWalk();
        }
    });
    if (m_connector) {
        const QString host = m_peer.ip.isEmpty() ? m_peer.dns.text() : m_peer.ip.text();
        if (host.isEmpty() || m_peer.port < 1 || m_peer.port > 65535) {
            endSession();
            return;
        }
        m_startTimer->start();
        m_socket->connectToPeer(host, quint16(m_peer.port), ConnectionHello::Browse);
        return;
    }
    QByteArray address;
    const bool accepted = m_socket->acceptPeer(std::exchange(m_descriptor, -1), address);
    if (!address.isEmpty())
        m_peer.ip.set(address);
    if (!accepted) {
        endSession();
        return;
    }
    m_startTimer->start();
}

void CBrowseThread::end()
{
    endSession();
}

bool CBrowseThread::send(uint8_t type, const QByteArray& payload)
{
    if (m_ending || !m_socket)
        return false;
    // An empty message still carries four zero bytes.
    return m_socket->SendFrame(type, payload.isEmpty() ? QByteArray(4, '\0') : payload);
}

void CBrowseThread::onConnected()
{
    // Hello sent: the handshake and the identities get the whole start time.
    if (!m_ending)
        m_startTimer->start();
}

void CBrowseThread::onHandshakeComplete()
{
    if (m_ending || !m_connector)
        return;
    if (send(BrowseIdentify, m_ownIdentity.encode()))
        m_startTimer->stop();
}

bool CBrowseThread::takePeerIdentity(const QByteArray& plain)
{
    if (!TakeIdentityPayload(plain, m_peer))
        return false;
    m_peer.ip.set(m_socket->peerAddressText());
    if (!m_shared->claimPeer(m_peer.uid.bytes())) {
        qCWarning(lcBrowse) << "session" << m_id << "ends: the peer has too many browse sessions";
        return false;
    }
    m_peerClaimed = true;
    m_identified = true;
    m_peerName = m_shared->peerName(m_peer.uid.bytes());
    // A peer that is not in our list keeps counting among the unidentified
    // connections and keeps its start deadline: it gets empty answers for a
    // while, never a session that stays open.
    if (m_peerName)
        m_socket->markIdentified();
    return true;
}

void CBrowseThread::onFrame(uint8_t type, const QByteArray& plain)
{
    if (m_ending)
        return;
    switch (type) {
    case BrowseIdentify:
        if (m_connector || m_identified)
            return;
        if (!takePeerIdentity(plain)) {
            m_socket->Close();
            return;
        }
        if (send(BrowseIdentifyReply, m_ownIdentity.encode()) && m_peerName)
            m_startTimer->stop();
        return;
    case BrowseIdentifyReply:
        if (!m_connector || m_identified)
            return;
        if (!takePeerIdentity(plain)) {
            m_socket->Close();
            return;
        }
        if (m_reverse)
            send(BrowseOpenBrowser, QByteArray());
        else
            openBrowser();
        return;
    case BrowseOpenBrowser:
        // Only the acceptor of a reverse session browses on type 9.
        if (!m_connector && m_identified && m_role == Role::Unknown)
            openBrowser();
        return;
    default:
        break;
    }
    if (!m_identified)
        return;
    if (type >= BrowseStop && type <= BrowseSendRequest) {
        if (m_role == Role::Unknown)
            m_role = Role::Owner;
        if (m_role == Role::Owner)
            ownerRequest(type, plain);
        return;
    }
    if (m_role == Role::Viewer && m_browserOpen)
        viewerFrame(type, plain);
}

// ---- viewer ----

void CBrowseThread::openBrowser()
{
    const std::optional<QString>& name = m_peerName;
    if (!name && !m_connector) {
        // Nobody we know asked us to browse: no window for strangers.
        qCWarning(lcBrowse) << "session" << m_id << "ignores an open request from an unknown peer";
        m_socket->Close();
        return;
    }
    m_role = Role::Viewer;
    m_browserOpen = true;
    const QString title =
        QStringLiteral("%1 (%2)").arg(name.value_or(DisplayName(m_peer)), m_peer.ip.text());
    // The browser asks for the root list as it opens.
    m_shared->browserOpened(m_id, title);
}

void CBrowseThread::sendStop()
{
    if (m_role == Role::Viewer)
        send(BrowseStop, QByteArray());
}

void CBrowseThread::sendRoots()
{
    if (m_role != Role::Viewer)
        return;
    m_listed = 0;
    m_overflowStopped = false;
    send(BrowseListRoots, QByteArray());
}

void CBrowseThread::sendFolder(const QByteArray& path)
{
    if (m_role != Role::Viewer)
        return;
    m_listed = 0;
    m_overflowStopped = false;
    send(BrowseListFolder, ShareTextPayload(path));
}

void CBrowseThread::sendSearch(const QByteArray& pattern, const QByteArray& path, bool subFolders)
{
    if (m_role != Role::Viewer)
        return;
    m_listed = 0;
    m_overflowStopped = false;
    send(BrowseSearch, ShareSearchPayload(pattern, path, subFolders));
}

void CBrowseThread::sendSendRequest(const QByteArray& path)
{
    if (m_role == Role::Viewer)
        send(BrowseSendRequest, ShareTextPayload(path));
}

void CBrowseThread::viewerFrame(uint8_t type, const QByteArray& plain)
{
    switch (type) {
    case BrowseEntry: {
        if (m_listed >= MaxBrowseEntriesPerListing) {
            // The owner does not stop: keep what we have, ask once, drop the rest.
            if (!m_overflowStopped) {
                m_overflowStopped = true;
                send(BrowseStop, QByteArray());
            }
            return;
        }
        std::optional<ShareEntry> entry = ShareEntry::decode(plain);
        if (!entry)
            return;
        ++m_listed;
        m_pending.append(std::move(*entry));
        if (!m_flushQueued) {
            m_flushQueued = true;
            QMetaObject::invokeMethod(this, &CBrowseThread::flushEntries, Qt::QueuedConnection);
        }
        return;
    }
    case BrowseEndOfList:
        flushEntries();
        m_shared->listEnded(m_id);
        return;
    case BrowseSendResult:
        if (plain.size() >= 4)
            m_shared->sendResultArrived(m_id, qFromLittleEndian<int32_t>(plain.constData()));
        return;
    default:
        return;
    }
}

void CBrowseThread::flushEntries()
{
    m_flushQueued = false;
    if (m_pending.isEmpty() || m_ending)
        return;
    m_shared->entriesArrived(m_id, std::exchange(m_pending, {}));
}

// ---- owner ----

void CBrowseThread::ownerRequest(uint8_t type, const QByteArray& plain)
{
    const QByteArray viewer = m_peer.uid.bytes();
    switch (type) {
    case BrowseStop:
        if (m_walk)
            m_walk->stop();
        return;
    case BrowseSendRequest: {
        const QByteArray path = ShareTextOf(plain);
        const ShareScope scope(m_shared->sharedPathsFor(viewer));
        const int code = scope.allows(path) ? m_shared->sendRequested(path, viewer) : SendRefused;
        send(BrowseSendResult, Int32Payload(code));
        return;
    }
    default:
        break;
    }
    // One listing or search at a time: a viewer that asks for more while
    // one runs is ignored until it ends.
    if (m_walk) {
        qCDebug(lcBrowse) << "session" << m_id << "ignores request" << type << "during a listing";
        return;
    }
    switch (type) {
    case BrowseListRoots:
        if (!m_noticeGiven) {
            m_noticeGiven = true;
            m_shared->browsingStarted(m_id, viewer);
        }
        beginWalk(ShareWalk::roots(m_shared->sharedPathsFor(viewer)));
        return;
    case BrowseListFolder:
        beginWalk(
            ShareWalk::folder(ShareTextOf(plain), ShareScope(m_shared->sharedPathsFor(viewer))));
        return;
    case BrowseSearch: {
        const std::optional<ShareSearchRequest> r = DecodeShareSearch(plain);
        if (!r) {
            send(BrowseEndOfList, QByteArray());
            return;
        }
        const ShareScope scope(m_shared->sharedPathsFor(viewer));
        const QList<QByteArray> starts =
            r->path == "HOME" ? scope.roots() : QList<QByteArray>{r->path};
        beginWalk(ShareWalk::search(QString::fromUtf8(r->pattern), starts, r->subFolders, scope));
        return;
    }
    default:
        return;
    }
}

void CBrowseThread::beginWalk(ShareWalk walk)
{
    m_walk.emplace(std::move(walk));
    m_waitingForWrite = false;
    pumpWalk();
}

void CBrowseThread::pumpWalk()
{
    m_pumpQueued = false;
    if (!m_walk || m_ending || m_waitingForWrite)
        return;
    ShareEntry entry;
    for (int i = 0; i < EntriesPerTurn; ++i) {
        if (!m_walk->next(entry)) {
            finishWalk();
            return;
        }
        if (!send(BrowseEntry, entry.encode()))
            return; // the session ends
    }
    if (m_socket->bytesToWrite() >= MaxUnsentBytes) {
        m_waitingForWrite = true;
        return;
    }
    // Let the stop request, the end and everything else waiting in the
    // queue in before the next batch.
    if (!m_pumpQueued) {
        m_pumpQueued = true;
        QMetaObject::invokeMethod(this, &CBrowseThread::pumpWalk, Qt::QueuedConnection);
    }
}

void CBrowseThread::finishWalk()
{
    m_walk.reset();
    send(BrowseEndOfList, QByteArray());
}

// ---- end ----

void CBrowseThread::onConnectionClosed()
{
    endSession();
}

void CBrowseThread::endSession()
{
    if (m_ending)
        return;
    m_ending = true;
    m_shared->markEnding(m_id);
    if (m_startTimer)
        m_startTimer->stop();
    m_walk.reset();
    if (m_socket)
        m_socket->Close();
    if (m_browserOpen)
        m_shared->browserClosed(m_id);
    if (m_noticeGiven)
        m_shared->browsingEnded(m_id);
    finish();
}
