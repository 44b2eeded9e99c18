// The host program's callback for add-ins: one entry that runs a function or command of the host
// program by number over portable value records, and answers with the interface's return code.
// The function numbers are the ones the runtime calls to register its entry points, bind keys and
// data entry, and hand back values the host program allocated.
#ifndef KORVEL_PLATFORM_ADDIN_CALLBACK_H_
#define KORVEL_PLATFORM_ADDIN_CALLBACK_H_

#include <cstddef>
#include <span>

#include "platform/xloper.h"

namespace korvel {

// Function numbers.
inline constexpr int kXlCommand = 0x8000;
inline constexpr int kXlfSetName = 88;
inline constexpr int kXlfRegister = 149;
inline constexpr int kXlfUnregister = 201;
inline constexpr int kXlfRegisterId = 267;
inline constexpr int kXlcOnKey = 168 | kXlCommand;    // 32936, ON.KEY
inline constexpr int kXlcOnEntry = 280 | kXlCommand;  // 33048, ON.ENTRY
inline constexpr int kXlFree = 0x4000;

// Return codes.
inline constexpr int kXlretSuccess = 0;
inline constexpr int kXlretInvXlfn = 2;    // the function number is not known
inline constexpr int kXlretInvCount = 4;   // too many or too few arguments
inline constexpr int kXlretInvXloper = 8;  // an argument of the wrong type
inline constexpr int kXlretFailed = 32;    // no host program behind the callback, or it refused

// The most arguments one call may carry.
inline constexpr size_t kXlMaxArguments = 255;

class AddinCallback {
 public:
  virtual ~AddinCallback() = default;
  // Runs the function with the arguments and stores its value in result when result is not null
  // (a call without a result still runs). Returns a kXlret code: kXlretFailed when no host program
  // answers (the runtime then changes nothing), kXlretInvCount for more than kXlMaxArguments
  // arguments, without running anything.
  // REQUIRES: called on the host program's user-interface thread; no argument is result.
  virtual int excel4(int function, Xloper* result, std::span<const Xloper* const> arguments) = 0;
};

}  // namespace korvel

#endif  // KORVEL_PLATFORM_ADDIN_CALLBACK_H_
