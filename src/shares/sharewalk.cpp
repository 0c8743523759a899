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

    // The next visible entry: its name, whether it is a link, and its
    // status (links followed). False at the end.
    bool next(QByteArrayView& name, bool& link, struct stat& st)
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
            if (fstatat(dirfd(m_dir), d->d_name, &st, AT_SYMLINK_NOFOLLOW) != 0)
                continue;
            link = S_ISLNK(st.st_mode);
            if (link && fstatat(dirfd(m_dir), d->d_name, &st, 0) != 0) {
                // A link that leads nowhere is nothing to show.
                continue;
            }
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
    QString pattern;
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
            bool link = false;
            struct stat st;
            while (reader.next(name, link, st)) {
                const bool folder = S_ISDIR(st.st_mode);
                const bool matches = WildcardMatch(pattern, QString::fromUtf8(name));
                if (!matches && !(folder && !link && subFolders))
                    continue;
                QByteArray full = JoinSharePath(reader.path(), name);
                if (link && !scope.contains(full))
                    continue;
                if (folder && !link && subFolders)
                    current.subs.push_back(full);
                if (matches) {
                    describe(st, full, entry);
                    return true;
                }
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
    s->pattern = pattern;
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
