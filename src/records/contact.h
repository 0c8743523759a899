#pragma once

#include "profile/storedrect.h"
#include "records/identity.h"

#include <QByteArray>
#include <QList>
#include <QtGlobal>

// Identifies one chat session for the whole run; 0 means "not connected".
using SessionId = quint64;

// One contact list entry: the peer's identity as last received, followed by
// local data. The persistent image (identity through disconnectTime) is
// PersistentSize bytes; the rest lives in other files or only in memory.
struct Contact : Identity
{
    static constexpr int AliasOffset = Identity::FieldsSize;
    static constexpr int AutosavePathOffset = AliasOffset + Identity::TextSize;
    static constexpr int AutosaveOffset = AutosavePathOffset + Identity::TextSize + 2;
    static constexpr int BlockedOffset = AutosaveOffset + 4;
    static constexpr int ConnectTimeOffset = BlockedOffset + 4;
    static constexpr int DisconnectTimeOffset = ConnectTimeOffset + 4;
    static constexpr int PersistentSize = DisconnectTimeOffset + 4;

    FixedText<Identity::TextSize> alias;
    FixedText<Identity::TextSize> autosavePath;
    int32_t autosave = 0;
    int32_t blocked = 0;
    uint32_t connectTime = 0;
    uint32_t disconnectTime = 0;

    // Kept in their own files or only while running.
    StoredRect chatWindowRect;
    StoredRect chatSplitterRect;
    int32_t typing = 0;
    SessionId sessionThread = 0;
    int32_t peerShares = 0;
    QByteArray queue;
    QList<QByteArray> shares;

    // The PersistentSize-byte image, padding zero.
    QByteArray encodePersistent() const;
    // Reads a persistent image over this contact; bytes missing at the end
    // leave what the contact held there.
    void decodePersistent(QByteArrayView bytes);

    Identity& identity() { return *this; }
    const Identity& identity() const { return *this; }

    friend bool operator==(const Contact&, const Contact&) = default;
};

static_assert(Contact::AliasOffset == 1598);
static_assert(Contact::AutosavePathOffset == 1858);
static_assert(Contact::AutosaveOffset == 2120);
static_assert(Contact::BlockedOffset == 2124);
static_assert(Contact::ConnectTimeOffset == 2128);
static_assert(Contact::DisconnectTimeOffset == 2132);
static_assert(Contact::PersistentSize == 2136);

inline constexpr char DefaultAutosavePath[] = "%autosavedir%\\%contactname%";

// Offline, port 8410, key "QRT482LMN", autosave path
// "%autosavedir%\%contactname%", everything else empty.
Contact NewContact();

// Alias when set, otherwise the screen name.
QString DisplayName(const Contact& contact);

// Takes the peer's identity fields; alias and every local field survive.
void CopyIdentity(const Identity& from, Contact& to);

// Takes a peer's identity payload (types 1, 2, 3 of the chat and file
// sessions) like CopyIdentity. The two padding bytes after the fields carry
// nothing, so a payload without them still counts; a shorter one is refused
// (false, the contact unchanged).
bool TakeIdentityPayload(const QByteArray& payload, Contact& to);

// A copy for a session; the queue and shares only when withLists is set.
Contact CopyContact(const Contact& contact, bool withLists);
