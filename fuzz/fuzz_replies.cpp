// libFuzzer target: the reply decoder fed arbitrary pieces the way the window feeds it.
#include "link/frames.h"
#include "link/replies.h"

#include <QByteArray>

#include <cstddef>
#include <cstdint>

using namespace chamber;

namespace {

void check(bool ok)
{
    if (!ok)
        __builtin_trap();
}

struct Seen
{
    bool lastwas250 = false; // the latest reply was a good temperature 250
};

// One arrival: append, bound, then cut replies off the head until none is complete.
void arrive(QByteArray &rxbuffer, const QByteArray &piece, Seen &seen)
{
    rxbuffer.append(piece);
    boundrxbuffer(rxbuffer);
    check(rxbuffer.size() <= rxbufferlimit);
    while (const std::optional<Reply> reply = cutreply(rxbuffer)) {
        check(reply->length >= 1 && reply->length <= rxbuffer.size());

        // the cut range ends with a frame of the kind reported
        const QByteArray cut = rxbuffer.first(reply->length);
        switch (reply->kind) {
        case Reply::Temperature: {
            check(cut.size() >= 7);
            const QByteArray frame = cut.last(7);
            check(frame[0] == 0x01 && frame[1] == 0x03);
            check(calccrc(frame.first(5)) == frame.last(2));
            const int raw = quint8(frame[3]) << 8 | quint8(frame[4]);
            check(reply->value == (raw >= 0x8000 ? raw - 0x10000 : raw));
            break;
        }
        case Reply::Echo: {
            check(cut.size() >= 8);
            const QByteArray frame = cut.last(8);
            check(frame[0] == 0x01 && frame[1] == 0x06);
            check(calccrc(frame.first(6)) == frame.last(2));
            break;
        }
        case Reply::Exception: {
            check(cut.size() >= 5);
            const QByteArray frame = cut.last(5);
            check(frame[0] == 0x01);
            check(quint8(frame[1]) == 0x83 || quint8(frame[1]) == 0x86);
            check(calccrc(frame.first(3)) == frame.last(2));
            break;
        }
        case Reply::BadCrc:
            check(cut.size() >= 7);
            break;
        default:
            check(false);
        }
        seen.lastwas250 = reply->kind == Reply::Temperature && reply->value == 250;
        rxbuffer.remove(0, reply->length);
    }
}

} // namespace

// Input: pieces, each one length byte followed by that many bytes (fewer at the end).
extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    QByteArray rxbuffer;
    Seen seen;
    std::size_t at = 0;
    while (at < size) {
        const std::size_t length = data[at++];
        const std::size_t take = length < size - at ? length : size - at;
        arrive(rxbuffer, QByteArray(reinterpret_cast<const char *>(data + at), qsizetype(take)),
               seen);
        at += take;
    }

    // whatever the noise left behind can swallow at most the first of two good replies, so the
    // second always decodes and nothing is left
    const QByteArray reply250 = QByteArray::fromHex("01030200fa3807");
    seen = Seen{};
    arrive(rxbuffer, reply250 + reply250, seen);
    check(seen.lastwas250);
    check(rxbuffer.isEmpty());
    return 0;
}
