// The bounded queue of events and the delay between attempts to connect.
#include "broker/delivery.h"

#include <QtGlobal>

#include <algorithm>

namespace chamber {

EventQueue::EventQueue(int capacity, int window)
    : capacity(capacity)
    , window(std::min(window, capacity - 1))
{
    Q_ASSERT(capacity > 1 && window > 0);
}

void EventQueue::push(const Message &message)
{
    qint64 carried = 0;
    if (int(entries.size()) >= capacity) {
        // those in flight may already be on the broker: drop the oldest that surely is not
        const auto oldest = entries.begin() + sent;
        carried = oldest->droppedBefore + 1;
        entries.erase(oldest);
        ++droppedTotal;
    }
    entries.push_back({message, 0});
    entries[sent].droppedBefore += carried;
}

std::optional<EventQueue::Message> EventQueue::takeNext()
{
    if (sent >= window || sent >= int(entries.size()))
        return std::nullopt;
    Message message = entries[sent].message;
    if (entries[sent].droppedBefore > 0)
        message.event.insert(QStringLiteral("dropped"), entries[sent].droppedBefore);
    ++sent;
    return message;
}

void EventQueue::confirmed()
{
    if (sent == 0)
        return;
    entries.pop_front();
    --sent;
}

void EventQueue::sendAgain()
{
    sent = 0;
}

ReconnectDelay::ReconnectDelay(int firstMs, int lastMs)
    : firstMs(firstMs)
    , lastMs(std::max(firstMs, lastMs))
    , coming(firstMs)
{}

int ReconnectDelay::next()
{
    const int now = coming;
    coming = int(std::min<qint64>(qint64(coming) * 2, lastMs));
    return now;
}

} // namespace chamber
