#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QLatin1StringView>
#include <QList>
#include <QString>
#include <QStringView>

#include <array>
#include <cstdint>

// The program options: 21 signed words kept as one block, the autosave
// folder and the paths shared with every contact. A flag is on when its
// word is non-zero (a fresh profile holds 0x01010101 in the "on" words).
struct Settings
{
    static constexpr int WordCount = 21;
    static constexpr int BlockSize = WordCount * 4;

    int32_t maxSendTransfers = 0;
    int32_t translucency = 0;
    int32_t translucent = 0;
    int32_t showAddress = 0;
    int32_t largeIcons = 0;
    int32_t idleAway = 0;
    int32_t connectAllOnStartup = 0;
    int32_t requirePassword = 0;
    int32_t soundOnline = 0;
    int32_t soundMessage = 0;
    int32_t flashOnMessage = 0;
    int32_t animateMessage = 0;
    int32_t animateOnline = 0;
    int32_t animateBrowse = 0;
    int32_t autoUpdate = 0;
    int32_t sharingEnabled = 0;
    int32_t autoAcceptAll = 0;
    int32_t autosaveSubfolders = 0;
    int32_t sendQueueEnabled = 0;
    int32_t autoPopupChat = 0;
    int32_t dynamicIp = 0;

    QByteArray autosaveDir;
    QList<QByteArray> sharedPaths;

    // The block filled with bytes 0x01, then 2, 190 and the zero words stored
    // over it; autosaveDir is the user's download folder.
    static Settings defaults();

    // The 84-byte block in table order.
    QByteArray encodeBlock() const;
    // Reads a block over the words; words a short block does not reach keep
    // their values.
    void decodeBlock(QByteArrayView bytes);

    // Access by name, for console commands ("set FIELD VALUE").
    static int fieldIndex(QStringView name);
    static QLatin1StringView fieldName(int index);
    int32_t word(int index) const;
    void setWord(int index, int32_t value);

    QString autosaveDirText() const { return QString::fromUtf8(autosaveDir); }
    QStringList sharedPathTexts() const;
    void setSharedPathTexts(const QStringList& paths);

    static bool on(int32_t word) { return word != 0; }

    friend bool operator==(const Settings&, const Settings&) = default;
};
