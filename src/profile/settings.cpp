#include "profile/settings.h"

#include <QStandardPaths>
#include <QStringList>
#include <QtEndian>

#include <cstring>

namespace {

struct Field
{
    const char* name;
    int32_t Settings::*member;
};

// Table order is block order.
const std::array<Field, Settings::WordCount> fields = {{
    {"maxSendTransfers", &Settings::maxSendTransfers},
    {"translucency", &Settings::translucency},
    {"translucent", &Settings::translucent},
    {"showAddress", &Settings::showAddress},
    {"largeIcons", &Settings::largeIcons},
    {"idleAway", &Settings::idleAway},
    {"connectAllOnStartup", &Settings::connectAllOnStartup},
    {"requirePassword", &Settings::requirePassword},
    {"soundOnline", &Settings::soundOnline},
    {"soundMessage", &Settings::soundMessage},
    {"flashOnMessage", &Settings::flashOnMessage},
    {"animateMessage", &Settings::animateMessage},
    {"animateOnline", &Settings::animateOnline},
    {"animateBrowse", &Settings::animateBrowse},
    {"autoUpdate", &Settings::autoUpdate},
    {"sharingEnabled", &Settings::sharingEnabled},
    {"autoAcceptAll", &Settings::autoAcceptAll},
    {"autosaveSubfolders", &Settings::autosaveSubfolders},
    {"sendQueueEnabled", &Settings::sendQueueEnabled},
    {"autoPopupChat", &Settings::autoPopupChat},
    {"dynamicIp", &Settings::dynamicIp},
}};

} // namespace

Settings Settings::defaults()
{
    Settings s;
    QByteArray block(BlockSize, '\x01');
    s.decodeBlock(block);
    s.maxSendTransfers = 2;
    s.translucency = 190;
    s.translucent = 0;
    s.showAddress = 0;
    s.requirePassword = 0;
    s.autoPopupChat = 0;
    s.autosaveDir = QStandardPaths::writableLocation(QStandardPaths::DownloadLocation).toUtf8();
    return s;
}

QByteArray Settings::encodeBlock() const
{
    QByteArray block(BlockSize, '\0');
    for (int i = 0; i < WordCount; ++i)
        qToLittleEndian(this->*fields[i].member, block.data() + 4 * i);
    return block;
}

void Settings::decodeBlock(QByteArrayView bytes)
{
    QByteArray block = encodeBlock();
    const qsizetype n = qMin<qsizetype>(bytes.size(), BlockSize);
    if (n > 0)
        memcpy(block.data(), bytes.data(), n);
    for (int i = 0; i < WordCount; ++i)
        this->*fields[i].member = qFromLittleEndian<int32_t>(block.constData() + 4 * i);
}

int Settings::fieldIndex(QStringView name)
{
    for (int i = 0; i < WordCount; ++i) {
        if (name == QLatin1StringView(fields[i].name))
            return i;
    }
    return -1;
}

QLatin1StringView Settings::fieldName(int index)
{
    if (index < 0 || index >= WordCount)
        return {};
    return QLatin1StringView(fields[index].name);
}

int32_t Settings::word(int index) const
{
    Q_ASSERT(index >= 0 && index < WordCount);
    return this->*fields[index].member;
}

void Settings::setWord(int index, int32_t value)
{
    Q_ASSERT(index >= 0 && index < WordCount);
    this->*fields[index].member = value;
}

QStringList Settings::sharedPathTexts() const
{
    QStringList out;
    for (const QByteArray& p : sharedPaths)
        out.append(QString::fromUtf8(p));
    return out;
}

void Settings::setSharedPathTexts(const QStringList& paths)
{
    sharedPaths.clear();
    for (const QString& p : paths)
        sharedPaths.append(p.toUtf8());
}
