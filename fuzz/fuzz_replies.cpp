// libFuzzer target: the reply decoder fed good replies and noise in pieces, as the window feeds it.
#include "link/frames.h"
#include "link/replies.h"

#include <QByteArray>
#include <QByteArrayView>

#include <array>
#include <cstddef>
#include <cstdint>

using namespace chamber;

namespace {

void check(bool ok)
{
    if (!ok)
        __builtin_trap();
}

// The input, read from the front; 0 once it is used up.
struct Input
{
    const std::uint8_t *data;
    std::size_t size;
    std::size_t at = 0;

    std::uint8_t next() { return at < size ? data[at++] : 0; }
    std::size_t left() const { return size - at; }
};

struct Decoded
{
    Reply::Kind kind;
    int value;
};

// What one call of the decode loop saw, in order; a fixed array, so no input allocates.
struct Seen
{
    std::array<Decoded, 300> replies;
    std::size_t count = 0;
};

bool crcGood(QByteArrayView frame)
{
    const quint16 crc = crc16(frame.first(frame.size() - 2));
    return quint8(frame[frame.size() - 2]) == (crc & 0xFF) &&
           quint8(frame[frame.size() - 1]) == (crc >> 8);
}

// One arrival: append, bound, then cut replies off the head until none is complete, checking
// that every cut ends with a frame of the kind reported.
void arrive(QByteArray &rxbuffer, QByteArrayView piece, Seen &seen)
{
    rxbuffer.append(piece);
    boundRxBuffer(rxbuffer);
    check(rxbuffer.size() <= rxBufferLimit);
    while (const std::optional<Reply> reply = cutReply(rxbuffer)) {
        check(reply->frameLength >= 5 && reply->frameLength <= reply->length &&
              reply->length <= rxbuffer.size());
        const QByteArrayView frame =
            QByteArrayView(rxbuffer).sliced(reply->length - reply->frameLength, reply->frameLength);
        check(frame[0] == 0x01);
        const quint8 function = quint8(frame[1]);
        switch (reply->kind) {
        case Reply::Temperature:
            check(function == 0x03 && frame.size() == 7 && crcGood(frame));
            check(reply->value == qint16(quint16(quint8(frame[3]) << 8 | quint8(frame[4]))));
            break;
        case Reply::Echo:
            check(function == 0x06 && frame.size() == 8 && crcGood(frame));
            check(reply->value == qint16(quint16(quint8(frame[4]) << 8 | quint8(frame[5]))));
            break;
        case Reply::Exception:
            check((function == 0x83 || function == 0x86) && frame.size() == 5 && crcGood(frame));
            check(reply->value == function);
            break;
        case Reply::BadCrc:
            // a cut reported as corrupt must really fail its CRC
            check(((function == 0x03 && frame.size() == 7) ||
                   (function == 0x06 && frame.size() == 8)) &&
                  !crcGood(frame));
            break;
        }
        if (seen.count < seen.replies.size())
            seen.replies[seen.count++] = {reply->kind, reply->value};
        rxbuffer.remove(0, reply->length);
    }
}

// Appends a good reply of the kind chosen by the input and returns what it must decode as.
Decoded goodReply(Input &in, std::array<char, 64> &bytes, qsizetype &size)
{
    const std::uint8_t kind = in.next() % 3;
    const char hi = char(in.next());
    const char lo = char(in.next());
    const qsizetype start = size;
    const auto put = [&](std::initializer_list<char> frame) {
        for (const char byte : frame)
            bytes[std::size_t(size++)] = byte;
    };
    Decoded expected{};
    if (kind == 0) {
        put({0x01, 0x03, 0x02, hi, lo});
        expected = {Reply::Temperature, qint16(quint16(quint8(hi) << 8 | quint8(lo)))};
    } else if (kind == 1) {
        put({0x01, 0x06, 0x01, 0x2C, hi, lo});
        expected = {Reply::Echo, qint16(quint16(quint8(hi) << 8 | quint8(lo)))};
    } else {
        const char function = char(hi & 1 ? 0x83 : 0x86);
        put({0x01, function, lo});
        expected = {Reply::Exception, quint8(function)};
    }
    const quint16 crc = crc16(QByteArrayView(bytes.data() + start, size - start));
    put({char(crc & 0xFF), char(crc >> 8)});
    return expected;
}

} // namespace

// Input: first up to four good replies (kind and value bytes) cut into pieces of the lengths
// that follow, fed to an empty buffer; then noise as pieces, each a length byte and that many
// bytes, followed by two good replies.
extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    // one buffer for every input: resize(0) keeps its room, so feeding never allocates
    static QByteArray rxbuffer = [] {
        QByteArray buffer;
        buffer.reserve(2 * rxBufferLimit);
        return buffer;
    }();
    static Seen seen;
    rxbuffer.resize(0);
    seen.count = 0;
    Input in{data, size};

    // N good replies, however they are cut, decode as N replies, in order, with their values
    std::array<char, 64> bytes{};
    qsizetype length = 0;
    std::array<Decoded, 4> expected{};
    const std::size_t replies = in.next() % (expected.size() + 1);
    for (std::size_t i = 0; i < replies; ++i)
        expected[i] = goodReply(in, bytes, length);
    for (qsizetype at = 0; at < length;) {
        const qsizetype piece = qMin<qsizetype>(in.next() % 9 + 1, length - at);
        arrive(rxbuffer, QByteArrayView(bytes.data() + at, piece), seen);
        at += piece;
    }
    check(seen.count == replies && rxbuffer.isEmpty());
    for (std::size_t i = 0; i < replies; ++i)
        check(seen.replies[i].kind == expected[i].kind &&
              seen.replies[i].value == expected[i].value);

    // whatever noise leaves behind can swallow at most the first of two good replies after it
    while (in.left() > 0) {
        const std::size_t want = in.next();
        const std::size_t take = want < in.left() ? want : in.left();
        arrive(rxbuffer, QByteArrayView(data + in.at, qsizetype(take)), seen);
        in.at += take;
    }
    static const QByteArray reply250 = QByteArray::fromHex("01030200fa3807");
    seen.count = 0;
    arrive(rxbuffer, reply250, seen);
    arrive(rxbuffer, reply250, seen);
    check(seen.count >= 1 && seen.replies[seen.count - 1].kind == Reply::Temperature &&
          seen.replies[seen.count - 1].value == 250);
    check(rxbuffer.isEmpty());
    return 0;
}
