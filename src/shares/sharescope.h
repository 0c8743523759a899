#pragma once

#include "transfers/pathguard.h"

#include <QByteArray>
#include <QList>
#include <QString>

#include <vector>

// The folders one viewer may see: the contact's own shares in order, then
// the shares for everybody in order, duplicates kept. An unknown viewer
// (no contact) has none.
QList<QByteArray> EffectiveSharedPaths(const QList<QByteArray>* contactShares,
                                       const QList<QByteArray>& generalShares);

// What a chat session tells its peer: 1 when sharing is on and either list
// holds a path.
int SharesFlag(bool sharingEnabled, const QList<QByteArray>& contactShares,
               const QList<QByteArray>& generalShares);

// The directory search's wildcards: '*' any run of characters, '?' exactly
// one, every other character itself, letter case ignored.
bool WildcardMatch(const QString& pattern, const QString& name);

// A name the listings never show and the searches never enter.
inline bool IsHiddenName(QByteArrayView name)
{
    return !name.isEmpty() && name.front() == '.';
}

// The shared folders of one viewer, looked up once per request. Decides
// which paths a viewer may name (a listing, a search, a send request) and
// which links met on the way lead out of the shares.
class ShareScope
{
public:
    ShareScope() = default;
    explicit ShareScope(const QList<QByteArray>& roots);

    bool isEmpty() const { return m_roots.empty(); }
    const QList<QByteArray>& roots() const { return m_rootTexts; }

    // A path the viewer names: absolute, one of the roots or below it, no
    // "." or ".." part and no hidden part below the root, and its real
    // location (links resolved) inside that root's real location.
    bool allows(const QByteArray& path) const;
    // Something met while walking an allowed folder (a link, typically):
    // its real location lies inside one of the roots.
    bool contains(const QByteArray& path) const;

private:
    struct Root
    {
        QList<QByteArrayView> parts; // into m_rootTexts
        FolderGuard guard;
    };
    QList<QByteArray> m_rootTexts;
    std::vector<Root> m_roots;
};

// The path's parts between slashes, empty parts left out.
QList<QByteArrayView> PathParts(QByteArrayView path);
// folder + "/" + name, without doubling a trailing slash.
QByteArray JoinSharePath(const QByteArray& folder, QByteArrayView name);
