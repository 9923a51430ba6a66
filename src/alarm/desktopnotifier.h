// Desktop notifications (org.freedesktop.Notifications on the session bus), never waited for.
#pragma once

#include <QObject>
#include <QThread>

#include <memory>

namespace chamber {

// Sends each notification from a thread of its own, started with the first, so that neither
// connecting to the bus nor a slow notification service can hold up the window. Without a
// session bus, or with no service on it, a notification goes nowhere and nothing is reported.
class DesktopNotifier : public QObject
{
    Q_OBJECT
public:
    explicit DesktopNotifier(QObject *parent = nullptr);
    ~DesktopNotifier() override;

    void notify(const QString &summary, const QString &body);

private:
    std::unique_ptr<QThread> thread;
    std::unique_ptr<QObject> sender; // lives in thread
};

} // namespace chamber
