#include "shares/sharewalk.h"

#include "shares/headcrccache.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>

#include <utility>

namespace {

bool describe(const struct stat& st, const QByteArray& path, ShareEntry& entry)
{
    entry.path = path;
    entry.folder = S_ISDIR(st.st_mode);
    entry.modified = int64_t(st.st_mtim.tv_sec);
    entry.size = 0;
    entry.crc = 0;
    if (S_ISREG(st.st_mode)) {
        entry.size = uint64_t(st.st_size);
        const int64_t ns = int64_t(st.st_mtim.tv_sec) * 1000000000 + st.st_mtim.tv_nsec;
        entry.crc = entry.size == 0 ? 0 : HeadCrcCache::instance().get(path, entry.size, ns);
    }
    return true;
}

// The search pattern against raw names: a byte loop for ASCII names, the
// full case-folding match for the rest.
class NameMatcher
{
public:
    NameMatcher() = default;
    explicit NameMatcher(const QString& pattern) : m_pattern(pattern)
    {
        bool ascii = true;
        for (QChar c : pattern)
            ascii = ascii && c.unicode() < 0x80;
        if (ascii)
            m_ascii = pattern.toLower().toLatin1();
        m_asciiOnly = ascii;
    }

    bool matches(QByteArrayView name) const
    {
        if (m_asciiOnly) {
            const int r = asciiMatch(name);
            if (r >= 0)
                return r == 1;
        }
        return WildcardMatch(m_pattern, QString::fromUtf8(name));
    }

private:
    static char lower(char c) { return c >= 'A' && c <= 'Z' ? char(c + 32) : c; }

    // 1 match, 0 no match, -1 the name is not ASCII.
    int asciiMatch(QByteArrayView name) const
    {
        for (const char c : name) {
            if (uchar(c) >= 0x80)
                return -1;
        }
        const char* p = m_ascii.constData();
        const qsizetype pl = m_ascii.size(), nl = name.size();
        qsizetype pi = 0, ni = 0, starP = -1, starN = 0;
        while (ni < nl) {
            if (pi < pl && p[pi] == '*') {
                starP = pi++;
                starN = ni;
            } else if (pi < pl && (p[pi] == '?' || p[pi] == lower(name[ni]))) {
                ++pi;
                ++ni;
            } else if (starP >= 0) {
                pi = starP + 1;
                ni = ++starN;
            } else {
                return 0;
            }
        }
        while (pi < pl && p[pi] == '*')
            ++pi;
        return pi == pl ? 1 : 0;
    }

    QString m_pattern;
    QByteArray m_ascii;
    bool m_asciiOnly = false;
};

// An open folder being enumerated.
class FolderReader
{
public:
    FolderReader() = default;
    FolderReader(const FolderReader&) = delete;
    FolderReader& operator=(const FolderReader&) = delete;
    ~FolderReader() { close(); }

    bool open(const QByteArray& path)
    {
        close();
        m_path = path;
        m_dir = opendir(path.constData());
        return m_dir != nullptr;
    }
    void close()
    {
        if (m_dir)
            closedir(m_dir);
        m_dir = nullptr;
    }
    bool isOpen() const { return m_dir != nullptr; }
    const QByteArray& path() const { return m_path; }

    // The next visible entry: its name and the kind the folder names for
    // it (DT_DIR, DT_REG, DT_LNK, ..., DT_UNKNOWN when it does not say).
    // False at the end.
    bool nextName(QByteArrayView& name, unsigned char& type)
    {
        while (m_dir) {
            const dirent* d = readdir(m_dir);
            if (!d) {
                close();
                return false;
            }
            name = QByteArrayView(d->d_name);
            if (name == "." || name == ".." || IsHiddenName(name))
                continue;
            type = d->d_type;
            if (type == DT_UNKNOWN) {
                struct stat st;
                if (fstatat(dirfd(m_dir), d->d_name, &st, AT_SYMLINK_NOFOLLOW) != 0)
                    continue;
                type = S_ISLNK(st.st_mode) ? DT_LNK : S_ISDIR(st.st_mode) ? DT_DIR : DT_REG;
            }
            return true;
        }
        return false;
    }
    // The status of the entry just named, links followed.
    bool statEntry(QByteArrayView name, struct stat& st) const
    {
        return m_dir && fstatat(dirfd(m_dir), name.data(), &st, 0) == 0;
    }

    // The next visible entry with its status (links followed; a link that
    // leads nowhere is skipped). False at the end.
    bool next(QByteArrayView& name, bool& link, struct stat& st)
    {
        unsigned char type = DT_UNKNOWN;
        while (nextName(name, type)) {
            link = type == DT_LNK;
            if (statEntry(name, st))
                return true;
        }
        return false;
    }

private:
    QByteArray m_path;
    DIR* m_dir = nullptr;
};

} // namespace

struct ShareWalk::State
{
    enum class Kind { Roots, Folder, Search } kind = Kind::Roots;
    bool done = false;
    ShareScope scope;
    // Roots
    QList<QByteArray> roots;
    qsizetype nextRoot = 0;
    // Folder and search
    FolderReader reader;
    // Search
    NameMatcher matcher;
    bool subFolders = false;
    QList<QByteArray> starts;
    qsizetype nextStart = 0;
    struct Level
    {
        std::vector<QByteArray> subs; // full paths, in enumeration order
        size_t next = 0;
    };
    std::vector<Level> levels;
    Level current; // sub-folders of the folder being read

    bool nextRootEntry(ShareEntry& entry)
    {
        while (nextRoot < roots.size()) {
            const QByteArray& root = roots[nextRoot++];
            entry = ShareEntry{};
            entry.path = root;
            entry.folder = true;
            struct stat st;
            if (stat(root.constData(), &st) == 0)
                entry.modified = int64_t(st.st_mtim.tv_sec);
            return true;
        }
        return false;
    }

    // One entry of the open folder that may be shown, or false at its end.
    bool nextVisible(ShareEntry& entry, bool& descend)
    {
        QByteArrayView name;
        bool link = false;
        struct stat st;
        while (reader.next(name, link, st)) {
            QByteArray full = JoinSharePath(reader.path(), name);
            if (link && !scope.contains(full))
                continue;
            describe(st, full, entry);
            descend = entry.folder && !link;
            return true;
        }
        return false;
    }

    bool nextFolderEntry(ShareEntry& entry)
    {
        bool descend = false;
        return nextVisible(entry, descend);
    }

    bool openNextSearchFolder()
    {
        // Sub-folders of the folder just read go first (depth first).
        if (!current.subs.empty()) {
            levels.push_back(std::move(current));
            current = Level{};
        }
        while (!levels.empty()) {
            Level& top = levels.back();
            if (top.next < top.subs.size()) {
                const QByteArray path = std::move(top.subs[top.next++]);
                if (reader.open(path))
                    return true;
                continue;
            }
            levels.pop_back();
        }
        while (nextStart < starts.size()) {
            const QByteArray& start = starts[nextStart++];
            if (scope.allows(start) && reader.open(start))
                return true;
        }
        return false;
    }

    bool nextSearchEntry(ShareEntry& entry)
    {
        for (;;) {
            if (!reader.isOpen() && !openNextSearchFolder())
                return false;
            QByteArrayView name;
            unsigned char type = DT_UNKNOWN;
            while (reader.nextName(name, type)) {
                // Only what matches, or a folder to enter, needs more than
                // the name: most entries of a big tree cost no status call.
                const bool link = type == DT_LNK;
                const bool enter = subFolders && type == DT_DIR;
                const bool matches = matcher.matches(name);
                if (!matches && !enter)
                    continue;
                QByteArray full = JoinSharePath(reader.path(), name);
                if (enter)
                    current.subs.push_back(full);
                if (!matches)
                    continue;
                struct stat st;
                if (!reader.statEntry(name, st) || (link && !scope.contains(full)))
                    continue;
                describe(st, full, entry);
                return true;
            }
        }
    }
};

ShareWalk::ShareWalk(std::unique_ptr<State> state) : m_state(std::move(state)) {}
ShareWalk::ShareWalk(ShareWalk&&) noexcept = default;
ShareWalk& ShareWalk::operator=(ShareWalk&&) noexcept = default;
ShareWalk::~ShareWalk() = default;

ShareWalk ShareWalk::roots(const QList<QByteArray>& roots)
{
    auto s = std::make_unique<State>();
    s->kind = State::Kind::Roots;
    s->roots = roots;
    return ShareWalk(std::move(s));
}

ShareWalk ShareWalk::folder(const QByteArray& path, const ShareScope& scope)
{
    auto s = std::make_unique<State>();
    s->kind = State::Kind::Folder;
    s->scope = scope;
    // A folder that is not shared, or cannot be read, lists as nothing.
    if (!scope.allows(path) || !s->reader.open(path))
        s->done = true;
    return ShareWalk(std::move(s));
}

ShareWalk ShareWalk::search(const QString& pattern, const QList<QByteArray>& starts,
                            bool subFolders, const ShareScope& scope)
{
    auto s = std::make_unique<State>();
    s->kind = State::Kind::Search;
    s->scope = scope;
    s->matcher = NameMatcher(pattern);
    s->subFolders = subFolders;
    s->starts = starts;
    return ShareWalk(std::move(s));
}

bool ShareWalk::next(ShareEntry& entry)
{
    State& s = *m_state;
    if (s.done)
        return false;
    bool got = false;
    switch (s.kind) {
    case State::Kind::Roots:
        got = s.nextRootEntry(entry);
        break;
    case State::Kind::Folder:
        got = s.nextFolderEntry(entry);
        break;
    case State::Kind::Search:
        got = s.nextSearchEntry(entry);
        break;
    }
    if (!got)
        stop();
    return got;
}

void ShareWalk::stop()
{
    m_state->done = true;
    m_state->reader.close();
    m_state->levels.clear();
    m_state->current = {};
}

bool ShareWalk::isDone() const
{
    return m_state->done;
}

bool DescribeSharePath(const QByteArray& path, ShareEntry& entry)
{
    struct stat st;
    if (stat(path.constData(), &st) != 0)
        return false;
    return describe(st, path, entry);
}
