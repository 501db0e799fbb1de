// Every host error number the substitute host answers, in one place.
//
// These are the 16-bit numbers that FM_ExprEnv_Evaluate, ExecuteFileSQL,
// RegisterExternalFunction, UnRegisterExternalFunction, FM_Data_SetAsText
// and callExternal answer; 0 is success.  They are not the error record's
// codes (1 out of memory, 2 failure), which say that an operation could not
// run at all.  Where FileMaker has a number for the same condition, it is
// the one used here.
#ifndef VESKO_HOST_HOST_ERRORS_H
#define VESKO_HOST_HOST_ERRORS_H

#include <cstdint>

namespace vesko_host {

enum HostError : int16_t {
  kHostErrorNone = 0,
  // The operation did not run: a bad handle, a fault the instrument
  // injected, or no memory.  The error record says which.
  kHostErrorUnknown = -1,

  // The current-environment callback was called while no calculation runs.
  kHostErrorNoCalculation = 3,

  // ExecuteFileSQL: no database file is open, or the file name given is
  // not the open file.
  kHostErrorFileMissing = 100,

  // The calculation language.  Found while reading the expression:
  kHostErrorUnexpectedEnd = 1203,     // the expression ends too early
  kHostErrorValueExpected = 1204,     // a number, text, name or "(" was expected
  kHostErrorUnendedComment = 1205,    // "/*" without "*/"
  kHostErrorUnendedText = 1206,       // a text constant without its closing quote
  kHostErrorUnbalancedParens = 1207,  // a "(" without ")" or the other way round
  kHostErrorOperatorExpected = 1212,  // two values with no operator between them
  // Found when a function is called:
  kHostErrorTooFewParameters = 1201,
  kHostErrorTooManyParameters = 1202,
  kHostErrorUnknownFunction = 1208,  // no built-in or registered function has the name
  kHostErrorBadGetParameter = 1215,  // Get(X) with an X the host does not know
  // Found while computing:
  kHostErrorCalculation = 1200,  // calculations nested too deeply
  kHostErrorOutOfRange = 1218,   // Date, Time, Char... given a value out of range

  // External function registration.
  kHostErrorAlreadyRegistered = 1210,  // the name, or the plug-in's number, is taken
  kHostErrorNotRegistered = 1224,      // unregistering a number that is not registered

  // FM_Data_SetAsText: a kind it cannot store, or a text that is not a
  // value of the kind asked for.
  kHostErrorBadKind = 1221,

  // ExecuteFileSQL.
  kHostErrorQueryInvalid = 8309,    // SQLite rejected the query: syntax, unknown table or column
  kHostErrorQueryFailed = 8310,     // the query failed while running: constraint, busy, I/O
  kHostErrorQueryTimeLimit = 8311,  // the query ran past its time limit and was stopped
  kHostErrorQueryTooLarge = 8312,   // the query's rows passed the memory cap and were dropped
};

// A short English description of a host error number, for messages.
const char* hostErrorText(int error);

// True for the numbers that mean the expression itself is wrong (it could
// never evaluate), as opposed to a failure while it ran.
bool isMalformedExpressionError(int error);

}  // namespace vesko_host

#endif
