// Closes every modal alert that appears while it lives, and records what each one showed.
#pragma once

#include "dialogs/z_alert.h"

#include <QApplication>
#include <QPushButton>
#include <QTest>
#include <QTextEdit>
#include <QTimer>

#include <functional>

namespace chamber {

class AlertCloser : public QObject
{
public:
    struct Seen
    {
        QString title, text;
    };

    AlertCloser()
    {
        // The alert's modal loop keeps processing timers, so polling finds it while it is open.
        connect(&poll, &QTimer::timeout, this, [this] {
            auto *dialog = qobject_cast<Z_alert *>(QApplication::activeModalWidget());
            if (dialog && dialog->isVisible()) {
                seen.append({dialog->windowTitle(), dialog->message->toPlainText()});
                if (inside)
                    inside(dialog);
                QTest::mouseClick(dialog->Command1[button], Qt::LeftButton);
            }
        });
        poll.start(10);
    }

    QStringList titles() const
    {
        QStringList list;
        for (const Seen &alert : seen)
            list << alert.title;
        return list;
    }

    QList<Seen> seen;
    int button = 0;                        // 0 "OK", 1 "Cancel"
    std::function<void(Z_alert *)> inside; // runs in the open alert before the click

private:
    QTimer poll;
};

} // namespace chamber
