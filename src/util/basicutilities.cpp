// The shared routines alert and delay, and the count of places that pump events.
#include "util/basicutilities.h"

#include "dialogs/z_alert.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QPointer>
#include <QPushButton>
#include <QRadioButton>
#include <QScreen>
#include <QTextBlock>
#include <QTextCursor>
#include <QTextEdit>
#include <QThread>
#include <QTimer>

#include <algorithm>
#include <limits>

namespace chamber::basicutilities {

namespace {

int pumps = 0;
bool alertOpen = false;

struct Deferred
{
    QPointer<QObject> context;
    bool hasContext;
    std::function<void()> action;
};
QList<Deferred> deferred;
bool deferredScheduled = false;

bool free()
{
    return pumps == 0 && !alertOpen;
}

void runDeferred()
{
    deferredScheduled = false;
    while (free() && !deferred.isEmpty()) {
        const Deferred next = deferred.takeFirst();
        if (next.hasContext && !next.context)
            continue; // its window is gone
        next.action();
    }
}

// From the event loop: by then the place that pumped has returned.
void scheduleDeferred()
{
    if (deferredScheduled || deferred.isEmpty() || !QCoreApplication::instance())
        return;
    deferredScheduled = true;
    QTimer::singleShot(0, qApp, runDeferred);
}

qint64 monotonicMs()
{
    static QElapsedTimer started = [] {
        QElapsedTimer timer;
        timer.start();
        return timer;
    }();
    return started.elapsed();
}

QString errorReport(const ErrorRecord &error)
{
    // the blank before a non-negative number stands where a minus sign would be
    const qint64 number = error.number;
    const QString digits = QString::number(number < 0 ? -number : number);
    const QString sign = number < 0 ? QStringLiteral("-") : QStringLiteral(" ");
    return QStringLiteral("Error Code: ") + sign + digits + QStringLiteral("\r\n\r\n") +
           error.description;
}

void alignParagraphs(QTextEdit *edit, Qt::Alignment alignment)
{
    // setAlignment() alone only touches the paragraph under the cursor
    QTextCursor cursor(edit->document());
    cursor.select(QTextCursor::Document);
    QTextBlockFormat format;
    format.setAlignment(alignment);
    cursor.mergeBlockFormat(format);
}

// No owner is given, so the dialog is centred on the window the operator is using, else on the
// screen.
void centre(QWidget *dialog)
{
    const QWidget *owner = QApplication::activeWindow();
    QRect area;
    if (owner && owner != dialog && owner->isVisible())
        area = owner->frameGeometry();
    else if (const QScreen *screen = owner ? owner->screen() : QGuiApplication::primaryScreen())
        area = screen->availableGeometry();
    if (area.isValid()) {
        QRect frame = dialog->frameGeometry();
        frame.moveCenter(area.center());
        dialog->move(frame.topLeft());
    }
}

} // namespace

bool alert(const QString &title, const QString &msgtext, int kind, const ErrorRecord &error)
{
    if (kind < 0 || kind > 2)
        return false;
    // one alert at a time: a handler running inside the open alert's loop gets nothing
    if (alertOpen)
        return false;
    if (kind != 1)
        QApplication::beep();

    Z_alert dialog;
    dialog.setWindowTitle(title);
    dialog.message->setPlainText(kind == 2 ? errorReport(error) : msgtext);
    alignParagraphs(dialog.message, kind == 1 ? Qt::AlignLeft : Qt::AlignHCenter);
    centre(&dialog);

    alertOpen = true;
    {
        PumpScope pumping;
        // pumps events: tick and replies may run here
        dialog.exec();
    }
    alertOpen = false;
    scheduleDeferred(); // once the caller of this alert has had its answer
    return dialog.respond->isChecked();
}

void whenFree(QObject *context, std::function<void()> action)
{
    if (free() && deferred.isEmpty()) {
        action();
        return;
    }
    deferred.append({context, context != nullptr, std::move(action)});
    if (free())
        scheduleDeferred();
}

void alertWhenFree(const QString &title, const QString &msgtext, int kind, const ErrorRecord &error)
{
    if (kind < 0 || kind > 2)
        return;
    whenFree(nullptr, [=] { alert(title, msgtext, kind, error); });
}

void delay(int hundredths, const MonotonicClock &clock)
{
    // 0: return at once, no pause, no event pumping
    if (hundredths == 0)
        return;
    const MonotonicClock now = clock ? clock : MonotonicClock(monotonicMs);
    const qint64 start = now();
    const qint64 end = start + qint64(hundredths) * 10;

    if (!QCoreApplication::instance()) {
        // nothing to pump without an application: just wait out the time
        QThread::msleep(quint64(std::max<qint64>(0, end - start)));
        return;
    }

    PumpScope pumping;
    QTimer wakeup;
    wakeup.setSingleShot(true);
    wakeup.setTimerType(Qt::PreciseTimer);
    // pumps events: tick and replies may run here
    QCoreApplication::processEvents();
    for (;;) {
        const qint64 reading = now();
        // the pause lasts while the reading is not later than the end, so a clock counting whole
        // milliseconds never ends it early; a reading below the start means the clock was reset,
        // which ends the pause rather than leaving it waiting for a time that may never come
        if (reading > end || reading < start)
            return;
        // sleep until an event arrives or the end has passed, rather than spinning
        const qint64 remaining = end - reading + 1;
        wakeup.start(int(std::min<qint64>(remaining, std::numeric_limits<int>::max())));
        // pumps events: tick and replies may run here
        QCoreApplication::processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents);
    }
}

PumpScope::PumpScope()
{
    ++pumps;
}

PumpScope::~PumpScope()
{
    if (--pumps == 0)
        scheduleDeferred();
}

int pumpDepth()
{
    return pumps;
}

} // namespace chamber::basicutilities
