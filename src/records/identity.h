#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QString>

#include <algorithm>
#include <cstdint>

// The longest prefix of text that fits maxBytes without splitting a UTF-8
// character.
QByteArray Utf8Prefix(QByteArrayView text, qsizetype maxBytes);

// Text of a zero-terminated, zero-padded field of Size bytes. Holds at most
// Size - 1 bytes and never a zero byte; it compares byte for byte.
template <int Size> class FixedText
{
public:
    static constexpr int Capacity = Size;

    FixedText() = default;
    FixedText(const QByteArray& bytes) { set(bytes); }
    FixedText(const char* bytes) { set(QByteArrayView(bytes)); }
    FixedText(const QString& text) { setText(text); }

    // Keeps the bytes before the first zero, cut to fit at a character boundary.
    void set(QByteArrayView bytes)
    {
        const qsizetype zero = bytes.indexOf('\0');
        m_bytes = Utf8Prefix(zero < 0 ? bytes : bytes.first(zero), Size - 1);
    }
    void setText(const QString& text) { set(text.toUtf8()); }

    const QByteArray& bytes() const { return m_bytes; }
    QString text() const { return QString::fromUtf8(m_bytes); }
    bool isEmpty() const { return m_bytes.isEmpty(); }
    void clear() { m_bytes.clear(); }

    // Writes the field image: the text, then zeros up to Size.
    void store(char* field) const;
    // Reads the field image (Size bytes).
    void load(const char* field) { set(QByteArrayView(field, Size)); }

    friend bool operator==(const FixedText&, const FixedText&) = default;

private:
    QByteArray m_bytes;
};

template <int Size> void FixedText<Size>::store(char* field) const
{
    std::fill(field, field + Size, '\0');
    std::copy(m_bytes.cbegin(), m_bytes.cend(), field);
}

// Presence values of a user; Blocked is local to a contact and never sent.
enum UserStatus : int32_t {
    StatusOnline = 0,
    StatusAway = 1,
    StatusAwayMessage = 2,
    StatusOffline = 3,
    StatusBlocked = 4,
};

inline constexpr int32_t DefaultPort = 8410;
inline constexpr char DefaultKey[] = "QRT482LMN";
inline constexpr char DefaultScreenName[] = "Default Name";

// One user as peers see it; sent whole at session start and on every change,
// and stored as the own identity. Its image is exactly Identity::Size bytes.
struct Identity
{
    static constexpr int Size = 1600;
    static constexpr int UidSize = 30;
    static constexpr int TextSize = 260;

    static constexpr int StatusOffset = 0;
    static constexpr int PortOffset = 4;
    static constexpr int UidOffset = 8;
    static constexpr int NameOffset = UidOffset + UidSize;
    static constexpr int IpOffset = NameOffset + TextSize;
    static constexpr int DnsOffset = IpOffset + TextSize;
    static constexpr int PasswordOffset = DnsOffset + TextSize;
    static constexpr int KeyOffset = PasswordOffset + TextSize;
    static constexpr int AwayMessageOffset = KeyOffset + TextSize;
    // Everything up to here is what a contact holds of a peer's identity.
    static constexpr int FieldsSize = AwayMessageOffset + TextSize;

    int32_t status = StatusOnline;
    int32_t port = 0;
    FixedText<UidSize> uid;
    FixedText<TextSize> name;
    FixedText<TextSize> ip;
    FixedText<TextSize> dns;
    FixedText<TextSize> password;
    FixedText<TextSize> key;
    FixedText<TextSize> awayMessage;

    // The 1600-byte image, padding zero.
    QByteArray encode() const;
    // Reads an image over this identity. Bytes missing at the end of a short
    // image leave what this identity held there.
    void decode(QByteArrayView bytes);

    // The first FieldsSize bytes of the image into dst; fields from dst.
    void storeFields(char* dst) const;
    void loadFields(const char* src);

    friend bool operator==(const Identity&, const Identity&) = default;
};

static_assert(Identity::NameOffset == 38);
static_assert(Identity::IpOffset == 298);
static_assert(Identity::DnsOffset == 558);
static_assert(Identity::PasswordOffset == 818);
static_assert(Identity::KeyOffset == 1078);
static_assert(Identity::AwayMessageOffset == 1338);
static_assert(Identity::FieldsSize == 1598);
static_assert(Identity::FieldsSize + 2 == Identity::Size);

// Unique identifier of a new own identity: root filesystem id (when it can
// be read), calendar seconds and milliseconds since boot, each in base 36.
QByteArray MakeUid();
// Lower-case base 36, no leading zeros ("0" for zero).
QByteArray ToBase36(uint64_t value);

// A new profile's own identity: Online, port 8410, a fresh uid,
// "Default Name", key "QRT482LMN".
Identity DefaultIdentity();

// "Online", "Away", the quoted away message (or "Away" when it is empty),
// "Offline"; empty for Blocked and for unknown values.
QString StatusText(const Identity& identity);
