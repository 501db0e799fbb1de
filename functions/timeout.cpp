// Vesko_Timeout( {seconds {; instructionCount} } ): sets and reports the
// time limit and the hook interval.
#include "engine/error_record.h"
#include "engine/time_limit.h"
#include "functions/external_functions.h"
#include "plugin/host_interface.h"

namespace vesko {

namespace {

bool isEmpty(const FMDataVect* parameters, uint32_t index) {
  return host::textSize(host::vectAtAsText(parameters, index)) == 0;
}

bool isNumber(const FMDataVect* parameters, uint32_t index) {
  return host::dataKind(host::vectAt(parameters, index)) == FM_KIND_NUMBER;
}

int32_t asInteger(const FMDataVect* parameters, uint32_t index) {
  return host::fixPtAsLong(host::vectAtAsNumber(parameters, index));
}

int16_t answerNumber(FMData* result, FMFixPt* number, int32_t value) {
  host::fixPtAssignDouble(number, value);
  host::dataSetNumber(result, number, FM_KIND_NUMBER);
  return 0;
}

}  // namespace

int16_t timeout(Call& call) {
  const FMDataVect* parameters = call.parameters;
  FMData* result = call.result;
  {
    host::FixPt number = host::newFixPt();
    host::Text tuning = host::newText();
    host::textAssign(tuning.get(), "tuning", host::kNative);
    const uint32_t count = host::vectSize(parameters);
    if (count >= 1) {
      if (host::textEqual(host::vectAtAsText(parameters, 0), tuning.get())) {
        return answerNumber(result, number.get(), engine::hookInterval);
      }
      if (!isEmpty(parameters, 0)) {
        const int32_t seconds = isNumber(parameters, 0) ? asInteger(parameters, 0) : 0;
        if (seconds <= 0) {
          setError(Failure::kBadSeconds);
          return kFailed;
        }
        engine::timeLimit = seconds;
      }
    }
    if (count >= 2 && !isEmpty(parameters, 1)) {
      if (!isNumber(parameters, 1)) {
        // A limit given in the same call has already been applied.
        setError(Failure::kBadInstructions);
        return kFailed;
      }
      const int32_t instructions = asInteger(parameters, 1);
      engine::hookInterval = instructions <= 0                         ? 0
                             : instructions > engine::kMaxHookInterval ? engine::kMaxHookInterval
                                                                       : instructions;
    }
    return answerNumber(result, number.get(), engine::timeLimit);
  }
}

}  // namespace vesko
