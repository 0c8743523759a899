#pragma once

#include <QByteArray>
#include <QHostAddress>
#include <QList>

// Text helpers and request builders of the router port mapping. All pure:
// they take bytes and return bytes, so the exact requests can be checked
// without a device.

// First position at or after from where pattern occurs, letters A to Z
// compared without regard to case and every other byte exactly; -1 when the
// pattern would run past the end of text.
qsizetype FindNoCase(const QByteArray& text, const QByteArray& pattern, qsizetype from = 0);

// The text between startTag and the next endTag (both found without regard
// to case). With mustContain, the first such pair whose text contains it (no
// case). No start tag: the text before the first end tag; no end tag: the
// text after the first start tag. A tag that is not found gives empty.
QByteArray ExtractBetween(const QByteArray& text, const QByteArray& startTag,
                          const QByteArray& endTag, const QByteArray& mustContain = {});

// The text between the last '>' before closingTag (found exactly, case
// included) and closingTag; empty when either is missing.
QByteArray ValueBefore(const QByteArray& text, const QByteArray& closingTag);

// The number a decimal text-to-integer conversion reads: blanks, a sign,
// then digits up to the first other character; 0 when there are none.
// Values are held at 2^31 - 1 in either direction.
qint64 DecimalPrefix(const QByteArray& text);

// The status code of an answer starting "HTTP/1." and at least 12 characters
// long; 0 otherwise.
int StatusCode(const QByteArray& response);

// True when response holds a whole HTTP answer: the header block and the
// Content-Length bytes it names, or a chunked body up to its last chunk. Any
// other answer is whole only once the device closes the connection.
bool IsCompleteAnswer(const QByteArray& response);

// This computer's address on the router's network: among the first 10 local
// addresses, the last one that begins with the router host's text up to its
// last '.', else the first one; empty when there is none.
QByteArray FindLanAddress(const QByteArray& routerHost, const QList<QHostAddress>& localAddresses);
// The local IPv4 addresses: up, not loopback, in interface order.
QList<QHostAddress> LocalIpv4Addresses();

namespace upnp {

inline constexpr char ServiceType[] = "schemas-upnp-org:service:WANIPConnection:1";
inline constexpr char MappingDescription[] = "Zephlink P2P";

// The SOAP exchanges, numbered as the requests' kinds (1 is the description).
enum class RequestKind {
    Description = 1,
    DeletePortMapping = 2,
    AddPortMapping = 3,
    GetSpecificPortMappingEntry = 4,
    GetGenericPortMappingEntry = 5,
};

// The one SSDP search datagram.
QByteArray SearchDatagram();

// The GET of the device description at path (without its leading '/').
QByteArray DescriptionRequest(const QByteArray& host, quint16 port, const QByteArray& path);

// What a SOAP request carries besides its action.
struct SoapArguments
{
    QByteArray controlPath;
    QByteArray deviceHost;
    quint16 devicePort = 0;
    quint16 port = 0;   // the external (and internal) port
    bool useTcp = true; // "TCP" or "UDP"
    QByteArray lanAddress;
    QByteArray description;
    quint32 entryIndex = 0;
};

// The whole request (header block and body) for one action (kind 2 to 5),
// in the POST or the M-POST form.
QByteArray SoapRequest(RequestKind kind, bool mPost, const SoapArguments& args);

} // namespace upnp
