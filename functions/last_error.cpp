// Vesko_LastError( {errorFormat} ): the error record as a number, a message
// or both, or the Lua traceback of the last run-time error.  It reads the record and never changes
// it.
#include "engine/error_record.h"
#include "functions/external_functions.h"
#include "plugin/host_interface.h"

namespace vesko {

namespace {

enum class Form { kFull, kNumber, kMessage, kTraceback, kUnknown };

Form formOf(const FMText* format, FMText* scratch) {
  struct Choice {
    const char* word;
    Form form;
  };
  static constexpr Choice kChoices[] = {{"", Form::kFull},
                                        {"full", Form::kFull},
                                        {"number", Form::kNumber},
                                        {"message", Form::kMessage},
                                        {"traceback", Form::kTraceback}};
  for (const Choice& choice : kChoices) {
    host::textAssign(scratch, choice.word, host::kNative);
    if (host::textEqual(format, scratch)) return choice.form;
  }
  return Form::kUnknown;
}

// "0" when there is no error, else "<code>: <message>".
void buildFullForm(FMText* answer, FMText* scratch, const FMText* zero) {
  if (host::textEqual(errorCodeText(), zero)) {
    host::textSet(answer, zero);
    return;
  }
  host::textSet(answer, errorMessageText());
  host::textAssign(scratch, ": ", host::kNative);
  host::textInsert(answer, scratch, 0);
  host::textInsert(answer, errorCodeText(), 0);
}

}  // namespace

int16_t lastError(Call& call) {
  host::Text answer = host::newText();
  host::Text scratch = host::newText();
  host::Text zero = host::newText();
  host::textAssign(zero.get(), "0", host::kNative);
  host::Locale systemLocale = host::newLocale(1);

  Form form = Form::kFull;
  const FMLocale* locale = systemLocale.get();
  if (host::vectSize(call.parameters) > 0) {
    form = formOf(host::vectAtAsText(call.parameters, 0), scratch.get());
    if (form == Form::kUnknown) return kFailed;
    locale = host::dataLocale(host::vectAt(call.parameters, 0));
  }
  switch (form) {
    case Form::kNumber:
      host::textSet(answer.get(), errorCodeText());
      break;
    case Form::kMessage:
      host::textSet(answer.get(), errorMessageText());
      break;
    case Form::kTraceback:
      host::textAssign(answer.get(), errorTraceback(), host::kUtf8);
      break;
    default:
      buildFullForm(answer.get(), scratch.get(), zero.get());
  }
  return host::dataSetText(call.result, answer.get(), locale, FM_KIND_TEXT);
}

}  // namespace vesko
