// Desktop notifications: one D-Bus call each, sent from a thread of their own and never answered.
#include "alarm/desktopnotifier.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QVariantMap>

namespace chamber {

namespace {

constexpr unsigned long stopWaitMs = 2000;
constexpr uchar criticalUrgency = 2; // stays on screen until dismissed

void send(const QString &summary, const QString &body)
{
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected())
        return; // no session bus (a service, a test): nobody to tell
    QDBusMessage call = QDBusMessage::createMethodCall(
        QStringLiteral("org.freedesktop.Notifications"),
        QStringLiteral("/org/freedesktop/Notifications"),
        QStringLiteral("org.freedesktop.Notifications"), QStringLiteral("Notify"));
    call << QStringLiteral("chamberctl") << uint(0) << QStringLiteral("chamberctl") << summary
         << body << QStringList()
         << QVariantMap{{QStringLiteral("urgency"), QVariant::fromValue(criticalUrgency)}}
         << int(-1);
    bus.send(call); // no reply is waited for: a missing service is no error of ours
}

} // namespace

DesktopNotifier::DesktopNotifier(QObject *parent)
    : QObject(parent)
{}

DesktopNotifier::~DesktopNotifier()
{
    if (!thread)
        return;
    thread->quit();
    // A bus that hangs must not hold up closing the window: the thread is then left to the end
    // of the process.
    if (!thread->wait(stopWaitMs)) {
        (void)sender.release();
        (void)thread.release();
    }
}

void DesktopNotifier::notify(const QString &summary, const QString &body)
{
    if (!thread) {
        thread = std::make_unique<QThread>();
        thread->setObjectName(QStringLiteral("desktop notifications"));
        sender = std::make_unique<QObject>();
        sender->moveToThread(thread.get());
        thread->start();
    }
    QMetaObject::invokeMethod(
        sender.get(), [summary, body] { send(summary, body); }, Qt::QueuedConnection);
}

} // namespace chamber

#include "moc_desktopnotifier.cpp"
