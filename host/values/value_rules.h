// How the host reads one kind of value as another: the number of a text,
// the seconds of a date.
#ifndef VESKO_HOST_VALUE_RULES_H
#define VESKO_HOST_VALUE_RULES_H

#include <optional>

#include "host/substitute_host.h"

namespace vesko_host {

// The number a value reads as: a text's leading number (0 without one), a
// date's day number (1/1/0001 is day 1), a time's or timestamp's seconds,
// a boolean's 1 or 0; 0 for an invalid value or a container.
double numberOf(const Value& value);

// The seconds since 0001-01-01 a value reads as: a date-time's own, a
// number's value, a text in a date, time or timestamp form; nothing else
// converts.
std::optional<double> secondsOf(const Value& value);

bool isTemporal(int kind);

}  // namespace vesko_host

#endif
