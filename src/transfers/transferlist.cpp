#include "transfers/transferlist.h"

#include "profile/binaryio.h"
#include "profile/profileui.h"
#include "records/identity.h"
#include "transfers/transferslog.h"

#include <QFile>
#include <QMutexLocker>
#include <QSaveFile>
#include <QtEndian>

namespace {

// A counted text holds at most this many bytes before its zero.
constexpr qsizetype MaxStoredText = MaxCountedStringLength - 1;

void ShowError(ProfileUi* ui, const QString& caption, const QString& text)
{
    if (ui)
        ui->showMessage(ProfileUi::Icon::Error, caption, text);
}

QByteArray StoredText(const QString& text)
{
    return Utf8Prefix(text.toUtf8(), MaxStoredText);
}

// Reads fixed amounts from the file; any shortfall is damage.
class ListReader
{
public:
    explicit ListReader(QFile& file) : m_file(file) {}

    bool read(char* dst, qint64 size) { return m_file.read(dst, size) == size; }
    bool readU32(uint32_t& value)
    {
        char bytes[4];
        if (!read(bytes, 4))
            return false;
        value = qFromLittleEndian<uint32_t>(bytes);
        return true;
    }
    bool readCountedText(QString& text)
    {
        uint32_t length = 0;
        if (!readU32(length) || length > MaxCountedStringLength)
            return false;
        QByteArray bytes;
        if (!readBytes(bytes, length))
            return false;
        text = QString::fromUtf8(TextBeforeZero(bytes));
        return true;
    }
    // Checks against what the file still holds before making room, so a
    // lying length costs nothing.
    bool readBytes(QByteArray& bytes, uint32_t length)
    {
        if (qint64(length) > m_file.size() - m_file.pos())
            return false;
        bytes.resize(length);
        return read(bytes.data(), length);
    }

private:
    QFile& m_file;
};

} // namespace

bool SaveTransferList(const QString& path, const QList<TransferListRow>& rows, ProfileUi* ui)
{
    QSaveFile file(path);
    bool ok = file.open(QIODevice::WriteOnly);
    const auto write = [&file, &ok](const QByteArray& bytes) {
        if (ok)
            ok = file.write(bytes) == bytes.size();
    };

    QByteArray head;
    AppendUInt32(head, FORMAT_VERSION);
    AppendUInt32(head, static_cast<uint32_t>(rows.size()));
    write(head);

    for (const TransferListRow& row : rows) {
        if (!ok)
            break;
        const Transfer& t = row.transfer;
        QByteArray out = EncodeTransferBlock(t).left(TransferFileBlockSize);
        AppendCountedString(out, StoredText(t.statusText));
        AppendCountedString(out, StoredText(t.senderPath));
        AppendCountedString(out, StoredText(t.savedPath));
        AppendCountedString(out, StoredText(row.contactText));

        QByteArray list;
        uint32_t calcFlag = t.calcThreadId;
        if (t.entries && t.calcThreadId == 0) {
            QMutexLocker locker(&t.entries->lock);
            for (const QString& entry : std::as_const(t.entries->paths)) {
                list.append(entry.toUtf8());
                list.append('\0');
                if (list.size() > qsizetype(MaxEntryListBytes))
                    break;
            }
        }
        const bool withList = t.entries && t.calcThreadId == 0;
        if (withList && list.size() > qsizetype(MaxEntryListBytes)) {
            // The reader would refuse the whole file; walking the folder
            // again on load rebuilds the list instead.
            qCWarning(lcTransfers)
                << "entry list of" << t.senderPath << "too long to store, walked again on load";
            calcFlag = 1;
            list.clear();
        }
        AppendUInt32(out, calcFlag);
        if (withList && calcFlag == 0) {
            AppendUInt32(out, 1);
            AppendUInt32(out, static_cast<uint32_t>(list.size()));
            write(out);
            write(list);
        } else {
            AppendUInt32(out, 0);
            write(out);
        }
    }

    QString error;
    if (ok) {
        ok = file.commit();
        error = file.errorString();
    } else {
        error = file.errorString();
        file.cancelWriting();
    }
    if (!ok) {
        qCWarning(lcTransfers) << "cannot write" << path << error;
        ShowError(ui, QStringLiteral("Disk Write Error"),
                  QStringLiteral("Unable to write to \"%1\" file!").arg(TransfersFileName));
    }
    return ok;
}

QList<TransferListRow> LoadTransferList(const QString& path, ProfileUi* ui,
                                        const TransferListHooks& hooks)
{
    QList<TransferListRow> rows;
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return rows;

    ListReader reader(file);
    bool ok = true;
    uint32_t version = 0;
    uint32_t count = 0;
    ok = reader.readU32(version) && version == FORMAT_VERSION && reader.readU32(count);

    for (uint32_t i = 0; ok && i < count; ++i) {
        TransferListRow row;
        Transfer& t = row.transfer;
        char block[TransferBlockSize] = {};
        uint32_t calcFlag = 0;
        uint32_t hasList = 0;
        ok = reader.read(block, TransferFileBlockSize) && reader.readCountedText(t.statusText) &&
             reader.readCountedText(t.senderPath) && reader.readCountedText(t.savedPath) &&
             reader.readCountedText(row.contactText) && reader.readU32(calcFlag) &&
             reader.readU32(hasList);
        if (!ok)
            break;
        DecodeTransferBlock(block, t, true);
        // Identifiers of threads from an earlier run mean nothing now.
        t.sessionThreadId = 0;
        t.calcThreadId = 0;

        if (hasList == 1) {
            uint32_t listBytes = 0;
            QByteArray list;
            ok = reader.readU32(listBytes) && listBytes <= MaxEntryListBytes &&
                 reader.readBytes(list, listBytes);
            if (!ok)
                break;
            t.entries = NewEntryList();
            QMutexLocker locker(&t.entries->lock);
            for (const QByteArray& piece : SplitStringBlock(list))
                t.entries->paths.append(QString::fromUtf8(piece));
        } else if (calcFlag != 0 && t.isSend && t.isFolder) {
            t.sizeUnknown = 1;
            t.entries = NewEntryList();
            if (hooks.startCalculation)
                t.calcThreadId = hooks.startCalculation(t);
        }

        // It was running when the list was saved; no session runs it now.
        if (t.state == TransferState::Transferring || t.state == TransferState::Waiting) {
            t.state = TransferState::Failed;
            t.statusText = QStringLiteral("Transfer Incomplete");
        }
        t.contactBound = hooks.contactKnown && hooks.contactKnown(t.contactUid);
        rows.append(std::move(row));
    }

    if (!ok) {
        qCWarning(lcTransfers) << "damaged transfer list removed:" << path;
        file.close();
        QFile::remove(path);
        ShowError(ui, QStringLiteral("Disk Read Error"),
                  QStringLiteral("Unable to load \"%1\" file!").arg(TransfersFileName));
    }
    return rows;
}
