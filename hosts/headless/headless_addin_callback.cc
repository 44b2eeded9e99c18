#include "hosts/headless/headless_addin_callback.h"

#include <algorithm>
#include <utility>

namespace korvel {
namespace {

// An absent argument, a missing one and nil all read as "not given".
bool given(std::span<const Xloper* const> arguments, size_t i) {
  return i < arguments.size() && arguments[i] && !arguments[i]->is(kXltypeMissing) &&
         !arguments[i]->is(kXltypeNil);
}

// The text of an optional text argument; false when it is given but not a string.
bool optionalText(std::span<const Xloper* const> arguments, size_t i, std::string* out) {
  out->clear();
  if (!given(arguments, i)) return true;
  if (!arguments[i]->is(kXltypeStr)) return false;
  *out = std::string(arguments[i]->text());
  return true;
}

bool requiredText(std::span<const Xloper* const> arguments, size_t i, std::string* out) {
  return given(arguments, i) && optionalText(arguments, i, out);
}

// The host program answers a call with arguments it cannot use by the #VALUE! error, not by a
// failing return code.
int valueError(Xloper* result) {
  if (result) *result = Xloper::error(kXlerrValue);
  return kXlretSuccess;
}

int answer(Xloper* result, Xloper value) {
  if (result) *result = std::move(value);
  return kXlretSuccess;
}

}  // namespace

int HeadlessAddinCallback::excel4(int function, Xloper* result,
                                  std::span<const Xloper* const> arguments) {
  if (!connected_) return kXlretFailed;
  if (arguments.size() > kXlMaxArguments) return kXlretInvCount;
  XllCall call;
  call.function = function;
  for (const Xloper* argument : arguments)
    call.arguments.push_back(argument ? *argument : Xloper());
  auto failure = failures_.find(function);
  call.returnCode = failure != failures_.end() ? failure->second : run(function, result, arguments);
  calls_.push_back(std::move(call));
  return calls_.back().returnCode;
}

void HeadlessAddinCallback::setFailure(int function, int code) {
  if (code == kXlretSuccess) {
    failures_.erase(function);
  } else {
    failures_[function] = code;
  }
}

const XllRegistration* HeadlessAddinCallback::registration(std::string_view procedure) const {
  for (const XllRegistration& entry : registrations_) {
    if (entry.procedure == procedure) return &entry;
  }
  return nullptr;
}

int HeadlessAddinCallback::run(int function, Xloper* result,
                               std::span<const Xloper* const> arguments) {
  switch (function) {
    case kXlfRegister:
      return doRegister(result, arguments);
    case kXlfRegisterId:
      return registerId(result, arguments);
    case kXlfUnregister:
      return unregister(result, arguments);
    case kXlfSetName:
      return setName(result, arguments);
    case kXlcOnKey:
      return onKey(result, arguments);
    case kXlcOnEntry:
      return onEntry(result, arguments);
    case kXlFree:
      // The values own their storage here; the host program only learns that they came back.
      freedValues_ += int(arguments.size());
      return kXlretSuccess;
    default:
      return kXlretInvXlfn;
  }
}

double HeadlessAddinCallback::idOf(const std::string& modulePath, const std::string& procedure) {
  auto [it, added] = ids_.emplace(std::make_pair(modulePath, procedure), nextId_);
  if (added) ++nextId_;
  return it->second;
}

int HeadlessAddinCallback::doRegister(Xloper* result, std::span<const Xloper* const> arguments) {
  XllRegistration entry;
  if (!requiredText(arguments, 0, &entry.modulePath) ||
      !requiredText(arguments, 1, &entry.procedure) ||
      !optionalText(arguments, 2, &entry.typeText) ||
      !optionalText(arguments, 3, &entry.functionText) ||
      !optionalText(arguments, 4, &entry.argumentText) ||
      !optionalText(arguments, 5, &entry.macroType)) {
    return valueError(result);
  }
  entry.registerId = idOf(entry.modulePath, entry.procedure);
  auto same = std::find_if(registrations_.begin(), registrations_.end(), [&](const auto& r) {
    return r.modulePath == entry.modulePath && r.procedure == entry.procedure &&
           r.functionText == entry.functionText;
  });
  if (!entry.functionText.empty()) definedNames_.insert(entry.functionText);
  double id = entry.registerId;
  if (same != registrations_.end()) {
    *same = std::move(entry);
  } else {
    registrations_.push_back(std::move(entry));
  }
  return answer(result, Xloper::number(id));
}

int HeadlessAddinCallback::registerId(Xloper* result, std::span<const Xloper* const> arguments) {
  std::string modulePath, procedure;
  if (!requiredText(arguments, 0, &modulePath) || !requiredText(arguments, 1, &procedure)) {
    return valueError(result);
  }
  // The host program registers a procedure it does not know yet, without texts.
  if (ids_.count({modulePath, procedure}) == 0) {
    XllRegistration entry;
    entry.modulePath = modulePath;
    entry.procedure = procedure;
    entry.registerId = idOf(modulePath, procedure);
    registrations_.push_back(std::move(entry));
  }
  return answer(result, Xloper::number(idOf(modulePath, procedure)));
}

int HeadlessAddinCallback::unregister(Xloper* result, std::span<const Xloper* const> arguments) {
  if (!given(arguments, 0) || !arguments[0]->is(kXltypeNum)) return valueError(result);
  double id = arguments[0]->num();
  auto removed = std::erase_if(registrations_, [&](const auto& r) { return r.registerId == id; });
  std::erase_if(ids_, [&](const auto& entry) { return entry.second == id; });
  return answer(result, Xloper::boolean(removed > 0));
}

int HeadlessAddinCallback::setName(Xloper* result, std::span<const Xloper* const> arguments) {
  std::string name;
  if (!requiredText(arguments, 0, &name)) return valueError(result);
  if (given(arguments, 1)) {
    definedNames_.insert(name);
    return answer(result, Xloper::boolean(true));
  }
  return answer(result, Xloper::boolean(definedNames_.erase(name) > 0));
}

int HeadlessAddinCallback::onKey(Xloper* result, std::span<const Xloper* const> arguments) {
  std::string key, macro;
  if (!requiredText(arguments, 0, &key) || !optionalText(arguments, 1, &macro)) {
    return valueError(result);
  }
  if (given(arguments, 1)) {
    keyBindings_[key] = macro;
  } else {
    keyBindings_.erase(key);  // the key gets its normal meaning back
  }
  return answer(result, Xloper::boolean(true));
}

int HeadlessAddinCallback::onEntry(Xloper* result, std::span<const Xloper* const> arguments) {
  std::string sheet, macro;
  if (!optionalText(arguments, 0, &sheet) || !optionalText(arguments, 1, &macro)) {
    return valueError(result);
  }
  if (macro.empty()) {
    entryBindings_.erase(sheet);
  } else {
    entryBindings_[sheet] = macro;
  }
  return answer(result, Xloper::boolean(true));
}

}  // namespace korvel
