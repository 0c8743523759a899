// Each input becomes Transfers.cfg; the loader must keep to its bounds, and
// a list that loads whole is written back and loads again to the same rows.

#include "fuzz_transfercommon.h"

#include "transfers/transferlist.h"

#include <QDir>
#include <QFile>
#include <QLoggingCategory>
#include <QTemporaryDir>

#include <cstdint>

namespace {

QTemporaryDir& scratch()
{
    static QTemporaryDir* dir = [] {
        QLoggingCategory::setFilterRules(QStringLiteral("zephlink.*=false"));
        const QString base = QDir(QStringLiteral("/dev/shm")).exists()
                                 ? QStringLiteral("/dev/shm/zl-fuzz-XXXXXX")
                                 : QDir::tempPath() + QStringLiteral("/zl-fuzz-XXXXXX");
        return new QTemporaryDir(base);
    }();
    return *dir;
}

bool sameRow(const TransferListRow& a, const TransferListRow& b)
{
    if (!fuzztransfer::sameRecord(a.transfer, b.transfer) || a.contactText != b.contactText)
        return false;
    if (bool(a.transfer.entries) != bool(b.transfer.entries))
        return false;
    return !a.transfer.entries || a.transfer.entries->paths == b.transfer.entries->paths;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    using namespace fuzztransfer;
    const QString path = scratch().filePath(QStringLiteral("Transfers.cfg"));
    const QString copy = scratch().filePath(QStringLiteral("Copy.cfg"));
    {
        QFile f(path);
        if (!f.open(QIODevice::WriteOnly | QIODevice::Truncate))
            abort();
        f.write(reinterpret_cast<const char*>(data), qint64(size));
    }
    // Every restarted walk gets the same identifier so that the rows compare.
    TransferListHooks hooks;
    hooks.startCalculation = [](Transfer&) { return uint32_t(1); };
    const QList<TransferListRow> rows = LoadTransferList(path, nullptr, hooks);
    for (const TransferListRow& row : rows) {
        const Transfer& t = row.transfer;
        if (t.state == TransferState::Transferring || t.state == TransferState::Waiting)
            fail("running state kept");
        if (t.sessionThreadId != 0 || (t.calcThreadId != 0 && !t.sizeUnknown))
            fail("thread identifiers kept");
    }
    if (!QFile::exists(path))
        return 0; // damaged: deleted, rows so far kept
    for (const TransferListRow& row : rows) {
        if (!fitsStoredText(row.transfer.statusText) || !fitsStoredText(row.transfer.senderPath) ||
            !fitsStoredText(row.transfer.savedPath) || !fitsStoredText(row.contactText))
            return 0;
    }
    if (!SaveTransferList(copy, rows, nullptr))
        fail("list not written");
    const QList<TransferListRow> back = LoadTransferList(copy, nullptr, hooks);
    if (back.size() != rows.size() || !QFile::exists(copy))
        fail("row count");
    for (qsizetype i = 0; i < rows.size(); ++i) {
        if (!sameRow(rows[i], back[i]))
            fail("row");
    }
    return 0;
}
