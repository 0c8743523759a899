#pragma once

#include "shares/shareentry.h"
#include "shares/sharescope.h"

#include <QByteArray>
#include <QList>
#include <QString>

#include <memory>
#include <vector>

// One listing or search of an owner's shares, produced an entry at a time so
// that its session can send each entry, look at its messages in between, and
// stop whenever it is told to. Nothing is read ahead beyond the folder being
// enumerated.
//
// - Roots: each root as a folder entry, in order.
// - Folder: every entry of one folder the scope allows.
// - Search: depth first from each start folder the scope allows; in every
//   folder first the entries whose names match the pattern, then (with
//   sub-folders) the sub-folders in enumeration order.
//
// Hidden entries (names starting with '.') never appear and are never
// entered. A link whose real location lies outside the scope is left out;
// a link is never entered by a search (it could lead back above itself).
class ShareWalk
{
public:
    static ShareWalk roots(const QList<QByteArray>& roots);
    static ShareWalk folder(const QByteArray& path, const ShareScope& scope);
    static ShareWalk search(const QString& pattern, const QList<QByteArray>& starts,
                            bool subFolders, const ShareScope& scope);

    ShareWalk(ShareWalk&&) noexcept;
    ShareWalk& operator=(ShareWalk&&) noexcept;
    ~ShareWalk();

    // The next entry; false once the walk is over (or stopped).
    bool next(ShareEntry& entry);
    // Ends the walk; next() returns false from now on.
    void stop();
    bool isDone() const;

private:
    struct State;
    explicit ShareWalk(std::unique_ptr<State> state);
    std::unique_ptr<State> m_state;
};

// Fills entry for the thing at path (links followed): folder flag, time,
// and for a regular file its size and HeadCrc (through the cache). False
// when nothing can be found there.
bool DescribeSharePath(const QByteArray& path, ShareEntry& entry);
