{
    "format": "chamberctl-profile",
    "version": 1,
    "points": [
        {"setpoint_c": 85.0, "dwell_s": 600},
        {"setpoint_c": 25.0, "dwell_s": 300},
        {"setpoint_c": 60.0, "dwell_s": 600},
        {"setpoint_c": 25.0, "dwell_s": 300}
    ],
    "use_points": [true, true, true, false],
    "cycles": 3
}
