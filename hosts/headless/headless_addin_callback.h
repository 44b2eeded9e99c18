// The headless host program's side of the add-in callback: it answers the functions the runtime
// calls to register its entry points and bind keys and data entry, keeps what they leave behind
// (registrations with their register ids, the defined names of registered functions, ON.KEY and
// ON.ENTRY bindings), counts the values handed back through xlFree, and logs every call it ran.
// Switches make it behave as if no host program were behind it, or make one function fail.
//
// REQUIRES: used on one thread.
#ifndef KORVEL_HOSTS_HEADLESS_HEADLESS_ADDIN_CALLBACK_H_
#define KORVEL_HOSTS_HEADLESS_HEADLESS_ADDIN_CALLBACK_H_

#include <map>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "platform/addin_callback.h"

namespace korvel {

struct XllRegistration {
  std::string modulePath;
  std::string procedure;
  std::string typeText;
  std::string functionText;
  std::string argumentText;
  std::string macroType;
  double registerId = 0;
};

struct XllCall {
  int function = 0;
  std::vector<Xloper> arguments;
  int returnCode = 0;
};

class HeadlessAddinCallback : public AddinCallback {
 public:
  int excel4(int function, Xloper* result, std::span<const Xloper* const> arguments) override;

  // While false, every call answers kXlretFailed and changes nothing, as when the add-in is loaded
  // outside the host program.
  void setConnected(bool connected) { connected_ = connected; }
  // Calls of the function answer the code and change nothing; kXlretSuccess lifts the failure.
  void setFailure(int function, int code);

  // Registrations in the order they were made; registering a procedure again with the same
  // function text replaces its entry. One procedure of one module keeps one register id.
  const std::vector<XllRegistration>& registrations() const { return registrations_; }
  // The first registration of the procedure, or null.
  const XllRegistration* registration(std::string_view procedure) const;
  // Names defined by registrations with a function text and by xlfSetName.
  const std::set<std::string>& definedNames() const { return definedNames_; }
  // Key text to macro text.
  const std::map<std::string, std::string>& keyBindings() const { return keyBindings_; }
  // Sheet text ("" for every sheet) to macro text.
  const std::map<std::string, std::string>& entryBindings() const { return entryBindings_; }
  // Values handed back through xlFree.
  int freedValues() const { return freedValues_; }
  // Every call that ran, with copies of its arguments.
  const std::vector<XllCall>& calls() const { return calls_; }

 private:
  int run(int function, Xloper* result, std::span<const Xloper* const> arguments);
  int doRegister(Xloper* result, std::span<const Xloper* const> arguments);
  int registerId(Xloper* result, std::span<const Xloper* const> arguments);
  int unregister(Xloper* result, std::span<const Xloper* const> arguments);
  int setName(Xloper* result, std::span<const Xloper* const> arguments);
  int onKey(Xloper* result, std::span<const Xloper* const> arguments);
  int onEntry(Xloper* result, std::span<const Xloper* const> arguments);
  double idOf(const std::string& modulePath, const std::string& procedure);

  bool connected_ = true;
  std::map<int, int> failures_;
  std::vector<XllRegistration> registrations_;
  std::map<std::pair<std::string, std::string>, double> ids_;  // (module, procedure) -> id
  double nextId_ = 0x7a000;
  std::set<std::string> definedNames_;
  std::map<std::string, std::string> keyBindings_;
  std::map<std::string, std::string> entryBindings_;
  int freedValues_ = 0;
  std::vector<XllCall> calls_;
};

}  // namespace korvel

#endif  // KORVEL_HOSTS_HEADLESS_HEADLESS_ADDIN_CALLBACK_H_
