#include "shares/sharescope.h"

#include <QFile>

QList<QByteArray> EffectiveSharedPaths(const QList<QByteArray>* contactShares,
                                       const QList<QByteArray>& generalShares)
{
    if (!contactShares)
        return {};
    return *contactShares + generalShares;
}

int SharesFlag(bool sharingEnabled, const QList<QByteArray>& contactShares,
               const QList<QByteArray>& generalShares)
{
    return sharingEnabled && (!contactShares.isEmpty() || !generalShares.isEmpty()) ? 1 : 0;
}

namespace {

bool sameChar(QChar a, QChar b)
{
    return a == b || a.toCaseFolded() == b.toCaseFolded();
}

} // namespace

bool WildcardMatch(const QString& pattern, const QString& name)
{
    // Greedy matching with one back-tracking point: the last '*' seen.
    qsizetype p = 0, n = 0, starP = -1, starN = 0;
    const qsizetype pl = pattern.size(), nl = name.size();
    while (n < nl) {
        if (p < pl && pattern[p] == u'*') {
            starP = p++;
            starN = n;
        } else if (p < pl && (pattern[p] == u'?' || sameChar(pattern[p], name[n]))) {
            ++p;
            ++n;
        } else if (starP >= 0) {
            p = starP + 1;
            n = ++starN;
        } else {
            return false;
        }
    }
    while (p < pl && pattern[p] == u'*')
        ++p;
    return p == pl;
}

QList<QByteArrayView> PathParts(QByteArrayView path)
{
    QList<QByteArrayView> parts;
    qsizetype begin = 0;
    for (qsizetype i = 0; i <= path.size(); ++i) {
        if (i == path.size() || path[i] == '/') {
            if (i > begin)
                parts.append(path.sliced(begin, i - begin));
            begin = i + 1;
        }
    }
    return parts;
}

QByteArray JoinSharePath(const QByteArray& folder, QByteArrayView name)
{
    QByteArray out;
    out.reserve(folder.size() + name.size() + 1);
    out.append(folder);
    if (!out.endsWith('/'))
        out.append('/');
    out.append(name);
    return out;
}

ShareScope::ShareScope(const QList<QByteArray>& roots) : m_rootTexts(roots)
{
    m_roots.reserve(size_t(m_rootTexts.size()));
    for (const QByteArray& root : m_rootTexts) {
        // A relative or empty root would be taken from wherever the program
        // runs: it shares nothing.
        if (!root.startsWith('/'))
            continue;
        m_roots.push_back(Root{PathParts(root), FolderGuard(QFile::decodeName(root))});
    }
}

bool ShareScope::allows(const QByteArray& path) const
{
    if (!path.startsWith('/') || path.contains('\0'))
        return false;
    const QList<QByteArrayView> parts = PathParts(path);
    for (const QByteArrayView part : parts) {
        if (part == "." || part == "..")
            return false;
    }
    const QString local = QFile::decodeName(path);
    for (const Root& root : m_roots) {
        if (parts.size() < root.parts.size())
            continue;
        bool below = true;
        for (qsizetype i = 0; i < root.parts.size() && below; ++i)
            below = parts[i] == root.parts[i];
        for (qsizetype i = root.parts.size(); i < parts.size() && below; ++i)
            below = !IsHiddenName(parts[i]);
        if (below && root.guard.contains(local))
            return true;
    }
    return false;
}

bool ShareScope::contains(const QByteArray& path) const
{
    const QString local = QFile::decodeName(path);
    for (const Root& root : m_roots) {
        if (root.guard.contains(local))
            return true;
    }
    return false;
}
