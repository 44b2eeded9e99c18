// The registrar of the runtime's add-in entry points: the registration table, registering every
// entry with the host program together with the key and data-entry bindings, and taking them all
// back when the add-in closes.
//
// REQUIRES: used on the host program's user-interface thread.
#ifndef KORVEL_RUNTIME_XLL_REGISTRAR_H_
#define KORVEL_RUNTIME_XLL_REGISTRAR_H_

#include <map>
#include <memory>
#include <string>

#include "platform/system.h"
#include "runtime/excel_bridge.h"

namespace korvel {

// One registered entry point. Texts are 8-bit, as the add-in interface takes them.
struct RegistrationEntry {
  explicit RegistrationEntry(ExcelBridge* bridge) : registerId(bridge) {}
  std::string procedure;     // the exported name
  std::string functionText;  // the name the host program knows it by
  std::string typeText;
  std::string macroType;
  XloperHolder registerId;  // nil until registered
};

class XllRegistrar {
 public:
  // REQUIRES: bridge and system outlive the registrar.
  XllRegistrar(ExcelBridge* bridge, System* system) : bridge_(bridge), system_(system) {}
  virtual ~XllRegistrar() = default;

  // Fills the table: keys 0 to 9 and 502 with the procedures, function texts, type and macro type
  // texts of the runtime's entry points.
  virtual void buildTable();
  // Builds the table, registers every entry in key order (register, then register id), binds the
  // calculate keys to entry 1 and every data entry to entry 6. Return codes are ignored except for
  // releasing results; nothing throws out.
  virtual void registerEntries();
  // Unregisters every entry (its defined name removed, then its register id) and gives the keys
  // their normal meaning back. Nothing throws out.
  virtual void unregisterEntries();

  const std::map<int, RegistrationEntry>& entries() const { return entries_; }
  // The runtime module's full path, 8-bit, as the registrations name it (empty before registering).
  const std::string& modulePath() const { return modulePath_; }

 protected:
  void registerEveryEntry();
  void unregisterEveryEntry();
  void addEntry(int key, std::string procedure, std::string functionText, std::string typeText,
                std::string macroType);

  ExcelBridge* bridge_;
  System* system_;
  std::map<int, RegistrationEntry> entries_;
  std::string modulePath_;
};

}  // namespace korvel

#endif  // KORVEL_RUNTIME_XLL_REGISTRAR_H_
