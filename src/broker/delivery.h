// How messages reach the broker through a connection that comes and goes: events wait in order in
// a bounded queue, and connecting again waits longer after each failure.
#pragma once

#include <QJsonObject>
#include <QString>

#include <deque>
#include <optional>

namespace chamber {

// Events in the order they happened, each kept until the broker has confirmed it. A few are sent
// ahead of the confirmations (the window); when the connection is lost, those not yet confirmed
// go again, first, on the next one. When more wait than the capacity, the oldest that has not yet
// been sent is dropped, and the event after it carries how many were dropped ("dropped": n).
class EventQueue
{
public:
    struct Message
    {
        QString topic;
        QJsonObject event;
    };

    static constexpr int defaultCapacity = 10000;
    static constexpr int defaultWindow = 10;

    explicit EventQueue(int capacity = defaultCapacity, int window = defaultWindow);

    void push(const Message &message);
    // The next event to send, or nullopt while the window is full or nothing waits.
    std::optional<Message> takeNext();
    void confirmed(); // the broker has the oldest sent event
    void sendAgain(); // the connection was lost: what was sent and not confirmed goes again
    int waiting() const { return int(entries.size()); }
    int unconfirmed() const { return sent; }
    qint64 dropped() const { return droppedTotal; }

private:
    struct Entry
    {
        Message message;
        qint64 droppedBefore = 0;
    };
    std::deque<Entry> entries;
    int sent = 0; // the first entries, sent and waiting for their confirmation
    int capacity;
    int window;
    qint64 droppedTotal = 0;
};

// The wait before the next attempt to connect: the first, then doubled after each failure, up to
// the last; back to the first once connected.
class ReconnectDelay
{
public:
    explicit ReconnectDelay(int firstMs = 1000, int lastMs = 30000);
    int next();
    void reset() { coming = firstMs; }

private:
    int firstMs;
    int lastMs;
    int coming;
};

} // namespace chamber
