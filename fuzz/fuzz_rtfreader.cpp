// Chat documents come from peers: whatever the bytes, the reader returns a
// sane text, the writer turns that text into a document that reads back to
// the same characters, and a history pane stays within its limit.

#include "messenger/chathistory.h"
#include "messenger/chatlines.h"
#include "messenger/rtfreader.h"
#include "messenger/rtfwriter.h"

#include <QLoggingCategory>

#include <cstdint>
#include <cstdio>
#include <cstdlib>

namespace {

[[noreturn]] void fail(const char* what)
{
    std::fprintf(stderr, "fuzz_rtfreader: %s\n", what);
    std::abort();
}

void checkText(const RichText& text, qsizetype inputSize)
{
    if (text.characterCount() > inputSize + 1)
        fail("more characters than input bytes");
    qsizetype counted = -1;
    for (const RichParagraph& p : text.paragraphs()) {
        counted += 1 + p.length();
        for (const RichRun& run : p.runs) {
            if (run.format.face.size() > RtfReader::MaxFontNameLength)
                fail("font name not capped");
            if (run.format.halfPoints < 1 || run.format.halfPoints > 3276)
                fail("size out of range");
            const QString& s = run.text;
            for (qsizetype i = 0; i < s.size(); ++i) {
                const QChar c = s.at(i);
                if (c.unicode() < 0x20 && c != u'\t')
                    fail("control character in text");
                if (c.isHighSurrogate() && i + 1 < s.size() && s.at(i + 1).isLowSurrogate())
                    ++i;
                else if (c.isSurrogate())
                    fail("lone surrogate");
            }
        }
    }
    if (counted != text.characterCount())
        fail("character count out of step");
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    static const bool quiet = [] {
        QLoggingCategory::setFilterRules(QStringLiteral("zephlink.*=false"));
        return true;
    }();
    Q_UNUSED(quiet);

    const QByteArray input(reinterpret_cast<const char*>(data), qsizetype(size));
    const RichText text = RtfReader::read(input);
    checkText(text, input.size());

    const QByteArray written = RtfWriter::write(text);
    const QByteArray end(RtfDocumentEnd);
    if (written.indexOf(end) != written.size() - end.size())
        fail("document end missing or faked");
    if (RtfToPlainText(written) != text.plainText())
        fail("written text reads back differently");

    ChatHistory pane;
    for (const QByteArray& document : ChatLines::SplitQueueDocuments(input)) {
        pane.StreamInAtEnd(document);
        if (pane.characterCount() > ChatHistory::MaxCharacters)
            fail("history over its limit");
    }
    const QByteArray bounded = pane.rtfBounded(4096);
    if (bounded.size() > 4096)
        fail("bounded history too long");
    return 0;
}
