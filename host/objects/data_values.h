// The value an FMData holds, and storing one into it.
#ifndef VESKO_HOST_DATA_VALUES_H
#define VESKO_HOST_DATA_VALUES_H

#include "host/objects/host_objects.h"
#include "host/substitute_host.h"
#include "host/values/value_rules.h"

namespace vesko_host {

Value valueOf(const FMData& data);
void assignValue(FMData& data, const Value& value);
void assignText(FMData& data, std::u16string units);
void assignNumber(FMData& data, double number, int kind, int32_t precision = 16);
void copyValue(FMData& data, const FMData& from);

// The data's text form, in the text that FM_Data_GetAsText lends.
FMText& currentText(FMData& data);

// The locale every value carries: the host has one.
FMLocale* hostLocale();

}  // namespace vesko_host

#endif
