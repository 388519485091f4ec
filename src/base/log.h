// The two writers of the daemon's diagnostic lines. Each line is formatted on
// the stack and written to standard error with one write, so lines from the
// three threads never interleave.
#pragma once

// 1 exactly when "DBID_POWERBANK_DEBUG" read "1" at start-up; written only by main.
extern int powerbank_debug;

// Source units named in debug lines.
inline constexpr const char kUnitPowerbank[] = "powerbank";
inline constexpr const char kUnitCommon[] = "common_interfance";

// "POWERBANK_DEBUG >>> unit->func()->line.N : " followed by the message; written
// only while powerbank_debug is 1. Callers pass the line number the device's
// log readers know for the message (or __LINE__ where none is fixed).
void powerbank_debug_log(const char *unit, const char *func, int line, const char *fmt, ...)
    __attribute__((format(printf, 4, 5)));

// "BROKER_TRACE >>> powerbank_broker->func()->line.N : " followed by the
// message; written whatever the debug setting.
void broker_trace_log(const char *func, int line, const char *fmt, ...)
    __attribute__((format(printf, 3, 4)));
