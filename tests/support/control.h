// Finds a window's control by its name, as automation tools do; a missing one ends the test run.
#pragma once

#include <QWidget>

namespace chamber {

template<typename T = QWidget> T *control(const QWidget &window, const QString &name)
{
    T *found = window.findChild<T *>(name);
    if (!found)
        qFatal("no control %s", qPrintable(name));
    return found;
}

} // namespace chamber
