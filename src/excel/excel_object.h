// The holder of one object of the host program: every call into the program's object model goes
// through such a holder, by dispatch id, with omitted arguments passed as "missing" and a failed
// call raised as a ComError that carries the result code. A holder is live while it holds an
// object; the operations that need one check first and report failure instead of calling.
//
// REQUIRES: used on the host program's user-interface thread.
#ifndef KORVEL_EXCEL_EXCEL_OBJECT_H_
#define KORVEL_EXCEL_EXCEL_OBJECT_H_

#include <cstdint>
#include <memory>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

#include "engine/calc_host.h"
#include "platform/dispatch.h"
#include "platform/variant.h"

namespace korvel {

// A failed call into the host program's objects.
class ComError : public HostCallFailure {
 public:
  ComError(HResult result, const std::string& what) : HostCallFailure(what), result_(result) {}
  HResult result() const { return result_; }

 private:
  HResult result_;
};

class ExcelObject {
 public:
  ExcelObject() = default;
  explicit ExcelObject(std::shared_ptr<Dispatch> object) : object_(std::move(object)) {}
  // The object a variant holds (empty holder for any other variant).
  static ExcelObject of(const Variant& value);

  bool live() const { return object_ != nullptr; }
  const std::shared_ptr<Dispatch>& dispatch() const { return object_; }
  void reset() { object_.reset(); }
  // The result code of the last call made through this holder.
  HResult lastResult() const { return lastResult_; }
  // Same object of the program (the same identity).
  bool sameObject(const ExcelObject& other) const {
    return object_ != nullptr && object_ == other.object_;
  }

  // Property read, property write and method call. Arguments in declaration order; pass
  // Variant::missing() for an omitted one. Throw ComError when the holder is not live or the call
  // fails.
  Variant get(int32_t memberId, std::vector<Variant> arguments = {},
              uint32_t locale = kLocaleSystemDefault);
  void put(int32_t memberId, Variant value, std::vector<Variant> arguments = {},
           uint32_t locale = kLocaleSystemDefault);
  Variant call(int32_t memberId, std::vector<Variant> arguments = {},
               uint32_t locale = kLocaleSystemDefault);
  // get, with the result taken as an object (an empty holder when it is none).
  ExcelObject object(int32_t memberId, std::vector<Variant> arguments = {},
                     uint32_t locale = kLocaleSystemDefault);

  // Shorthands for typed reads: the value converted as the program's automation would (numbers
  // truncated toward zero for integers, "true" only for a boolean true); they throw as get does.
  bool getBool(int32_t memberId, std::vector<Variant> arguments = {});
  int32_t getInt(int32_t memberId, std::vector<Variant> arguments = {});
  std::u16string getText(int32_t memberId, std::vector<Variant> arguments = {});

  // The raw call: answers the result code instead of throwing (an empty holder answers kEFail).
  HResult invoke(int32_t memberId, InvokeKind kind, std::vector<Variant>& arguments,
                 Variant* result, uint32_t locale = kLocaleSystemDefault);

 private:
  std::shared_ptr<Dispatch> object_;
  HResult lastResult_ = kSOk;
};

// A variant as the program's automation converts it for a typed read.
bool variantToBool(const Variant& value);
int32_t variantToInt(const Variant& value);
double variantToDouble(const Variant& value);
std::u16string variantToText(const Variant& value);

}  // namespace korvel

#endif  // KORVEL_EXCEL_EXCEL_OBJECT_H_
