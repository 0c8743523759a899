#include "records/contact.h"

#include <algorithm>

#include <QtEndian>

#include <cstring>

QByteArray Contact::encodePersistent() const
{
    QByteArray image(PersistentSize, '\0');
    char* p = image.data();
    storeFields(p);
    alias.store(p + AliasOffset);
    autosavePath.store(p + AutosavePathOffset);
    qToLittleEndian(autosave, p + AutosaveOffset);
    qToLittleEndian(blocked, p + BlockedOffset);
    qToLittleEndian(connectTime, p + ConnectTimeOffset);
    qToLittleEndian(disconnectTime, p + DisconnectTimeOffset);
    return image;
}

void Contact::decodePersistent(QByteArrayView bytes)
{
    QByteArray image = encodePersistent();
    const qsizetype n = qMin<qsizetype>(bytes.size(), PersistentSize);
    if (n > 0)
        memcpy(image.data(), bytes.data(), n);
    const char* p = image.constData();
    loadFields(p);
    alias.load(p + AliasOffset);
    autosavePath.load(p + AutosavePathOffset);
    autosave = qFromLittleEndian<int32_t>(p + AutosaveOffset);
    blocked = qFromLittleEndian<int32_t>(p + BlockedOffset);
    connectTime = qFromLittleEndian<uint32_t>(p + ConnectTimeOffset);
    disconnectTime = qFromLittleEndian<uint32_t>(p + DisconnectTimeOffset);
}

Contact NewContact()
{
    Contact c;
    c.status = StatusOffline;
    c.port = DefaultPort;
    c.key = DefaultKey;
    c.autosavePath = DefaultAutosavePath;
    return c;
}

QString DisplayName(const Contact& contact)
{
    return contact.alias.isEmpty() ? contact.name.text() : contact.alias.text();
}

void CopyIdentity(const Identity& from, Contact& to)
{
    to.identity() = from;
}

bool TakeIdentityPayload(const QByteArray& payload, Contact& to)
{
    if (payload.size() < Identity::FieldsSize)
        return false;
    Identity peer;
    peer.decode(QByteArrayView(payload).first(std::min<qsizetype>(payload.size(), Identity::Size)));
    CopyIdentity(peer, to);
    return true;
}

Contact CopyContact(const Contact& contact, bool withLists)
{
    Contact copy = contact;
    if (!withLists) {
        copy.queue.clear();
        copy.shares.clear();
    }
    return copy;
}
