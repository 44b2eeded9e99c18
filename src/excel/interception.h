// Interception of the program's members that must not bypass the runtime (Calculate, Save, Quit,
// Close, renaming a sheet, protecting it...): the registry of members by interface, member id and
// invoke kind, the installation of the runtime's replacements into the shared interface tables of
// the program's objects, the program's own functions recorded so that the runtime can still call
// them, and their restoration.
//
// REQUIRES: used on the host program's user-interface thread.
#ifndef KORVEL_EXCEL_INTERCEPTION_H_
#define KORVEL_EXCEL_INTERCEPTION_H_

#include <cstdint>
#include <map>
#include <set>
#include <span>
#include <tuple>
#include <utility>

#include "platform/dispatch.h"

namespace korvel {

class ExcelConnection;

class Interception {
 public:
  // Builds the registry (no replacements yet).
  explicit Interception(ExcelConnection& connection);

  // Enters the runtime's replacement functions into their entries.
  void assignReplacements();
  // Records the program's functions of the object's interface and installs the replacements;
  // an interface already processed, or not in the registry, changes nothing.
  void processObject(Dispatch& object);
  // Puts the program's functions back into the slots of the object's interface.
  void restoreObject(Dispatch& object);
  // The attach's installation: the Application, the workbook, a Range and a worksheet. Throws
  // notice4user when the Application's or the workbook's interface could not be processed.
  void installInterceptions();
  bool processed(const InterfaceId& iid) const { return processed_.count(iid) != 0; }

  // The program's own function of a member, recorded at processing; empty when not recorded.
  MemberFunction original(const InterfaceId& iid, int32_t memberId, InvokeKind kind) const;
  // Calls the program's own function when recorded, else the object's invoke.
  HResult callOriginal(Dispatch& object, const InterfaceId& iid, int32_t memberId, InvokeKind kind,
                       std::span<Variant> arguments, Variant* result,
                       uint32_t locale = kLocaleSystemDefault);

 private:
  struct Entry {
    size_t slot = 0;
    bool recorded = false;
    MemberFunction original;
    MemberFunction replacement;
  };
  using Key = std::pair<int32_t, InvokeKind>;

  ExcelConnection& connection_;
  std::map<InterfaceId, std::map<Key, Entry>> registry_;
  std::set<InterfaceId> processed_;
};

}  // namespace korvel

#endif  // KORVEL_EXCEL_INTERCEPTION_H_
