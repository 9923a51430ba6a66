// The comment lines and column names of a run record as chamberctl 0.2.0 wrote them.
#pragma once

#include <QByteArray>

namespace chamber {

inline const QByteArray oldPreamble =
    "# chamberctl 0.2.0 run record\n"
    "# port: COM1\n"
    "# started: 2026-12-06T14:02:31.250+01:00\n"
    "# point 1: setpoint 75.0 C, dwell 30 s, used\n"
    "# point 2: setpoint 25.0 C, dwell 30 s, used\n"
    "# point 3: setpoint 35.0 C, dwell 5 s, not used\n"
    "# point 4: setpoint 25.0 C, dwell 5 s, not used\n"
    "# cycles: 1\n"
    "time,elapsed_s,temperature_C,setpoint_C,phase,cycle,errors,event\n";

} // namespace chamber
