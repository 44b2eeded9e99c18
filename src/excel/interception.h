// Interception of the program's members that must not bypass the runtime (Calculate, Save, Quit,
// Close, renaming a sheet, protecting it...): the registry of members by interface, member id and
// invoke kind, the installation of the runtime's replacements into the shared interface tables of
// the program's objects, the program's own functions recorded so that the runtime can still call
// them, and their restoration.
//
// Every object of one interface shares one table, so one installation serves every object of that
// interface, whether the caller goes through the table or by member id.
//
// The slot of IDispatch::Invoke (kDispidInvoke) takes as arguments the member id (VT_I4), the
// invoke kind (VT_I4) and then the member's own arguments in declaration order.
//
// REQUIRES: used on the host program's user-interface thread.
#ifndef KORVEL_EXCEL_INTERCEPTION_H_
#define KORVEL_EXCEL_INTERCEPTION_H_

#include <cstdint>
#include <map>
#include <set>
#include <span>
#include <string>
#include <tuple>
#include <utility>

#include "platform/dispatch.h"

namespace korvel {

class ExcelConnection;

class Interception {
 public:
  // Builds the registry (no replacements yet).
  explicit Interception(ExcelConnection& connection);
  Interception(const Interception&) = delete;
  Interception& operator=(const Interception&) = delete;

  // Enters the runtime's replacement functions into their entries.
  void assignReplacements();
  // Records the program's functions of the object's interface (once per entry) and installs the
  // replacements. An interface not in the registry, or an object without type information,
  // changes nothing; processing again puts back only replacements that restoreObject took out.
  void processObject(Dispatch& object);
  // Puts the program's functions back into the slots of the object's interface that hold a
  // replacement.
  void restoreObject(Dispatch& object);
  // The attach's installation: the Application, the workbook, a Range and a worksheet. Throws
  // notice4user when the Application's or the workbook's interface could not be processed.
  // REQUIRES: the connection holds the Application and the application workbook.
  void installInterceptions();
  bool processed(const InterfaceId& iid) const { return processed_.count(iid) != 0; }
  // Whether the slot of the member currently holds the runtime's replacement.
  bool installed(const InterfaceId& iid, int32_t memberId, InvokeKind kind) const;

  // The program's own function of a member, recorded at processing; empty when not recorded.
  MemberFunction original(const InterfaceId& iid, int32_t memberId, InvokeKind kind) const;
  // Calls the program's own function when recorded, else the object's invoke.
  HResult callOriginal(Dispatch& object, const InterfaceId& iid, int32_t memberId, InvokeKind kind,
                       std::span<Variant> arguments, Variant* result,
                       uint32_t locale = kLocaleSystemDefault);

 private:
  struct Entry;
  using Replacement = HResult (Interception::*)(Entry& entry, Dispatch& self,
                                                std::span<Variant> arguments, Variant* result,
                                                uint32_t locale);
  struct Entry {
    size_t slot = 0;
    bool recorded = false;
    // The slot holds the replacement (and not the program's function).
    bool installed = false;
    MemberFunction original;
    Replacement handler = nullptr;
    MemberFunction replacement;
  };
  using Key = std::pair<int32_t, InvokeKind>;
  struct Group {
    std::map<Key, Entry> entries;
    // The table the replacements went into; only compared, never followed.
    const InterfaceTable* table = nullptr;
  };

  void buildRegistry();
  // The object's table of the interface the type information names, or null.
  InterfaceTable* interfaceTableOf(Dispatch& object, Group** group);
  // The recorded function with the same arguments; S_FALSE when none was recorded.
  static HResult callRecorded(Entry& entry, Dispatch& self, std::span<Variant> arguments,
                              Variant* result, uint32_t locale);
  HResult callRecorded(const InterfaceId& iid, int32_t memberId, InvokeKind kind, Dispatch& self,
                       std::span<Variant> arguments, Variant* result, uint32_t locale);
  bool isApplicationWorkbook(Dispatch& workbook);
  bool belongsToApplicationWorkbook(Dispatch& worksheet);
  void renameEngineSheet(Dispatch& worksheet, const Variant& name);
  void recordProtect(Dispatch& worksheet, std::span<Variant> arguments);
  void recordUnprotect(Dispatch& worksheet);
  void recordSelectionMode(Dispatch& worksheet, const Variant& mode);
  void copyExecutable(const Variant& fileName);

  // The replacements, in the registry's order.
  HResult recalculate(Entry&, Dispatch&, std::span<Variant>, Variant*, uint32_t);
  HResult runWithCodeFlag(Entry&, Dispatch&, std::span<Variant>, Variant*, uint32_t);
  HResult passThrough(Entry&, Dispatch&, std::span<Variant>, Variant*, uint32_t);
  HResult setCalculationMode(Entry&, Dispatch&, std::span<Variant>, Variant*, uint32_t);
  HResult processReturnedObject(Entry&, Dispatch&, std::span<Variant>, Variant*, uint32_t);
  HResult setVisibility(Entry&, Dispatch&, std::span<Variant>, Variant*, uint32_t);
  HResult quit(Entry&, Dispatch&, std::span<Variant>, Variant*, uint32_t);
  HResult close(Entry&, Dispatch&, std::span<Variant>, Variant*, uint32_t);
  HResult save(Entry&, Dispatch&, std::span<Variant>, Variant*, uint32_t);
  HResult saveAs(Entry&, Dispatch&, std::span<Variant>, Variant*, uint32_t);
  HResult saveCopyAs(Entry&, Dispatch&, std::span<Variant>, Variant*, uint32_t);
  HResult applicationFolder(Entry&, Dispatch&, std::span<Variant>, Variant*, uint32_t);
  HResult renameSheet(Entry&, Dispatch&, std::span<Variant>, Variant*, uint32_t);
  HResult protect(Entry&, Dispatch&, std::span<Variant>, Variant*, uint32_t);
  HResult unprotect(Entry&, Dispatch&, std::span<Variant>, Variant*, uint32_t);
  HResult enableSelection(Entry&, Dispatch&, std::span<Variant>, Variant*, uint32_t);
  HResult lateBoundInvoke(Entry&, Dispatch&, std::span<Variant>, Variant*, uint32_t);

  ExcelConnection& connection_;
  std::map<InterfaceId, Group> registry_;
  std::set<InterfaceId> processed_;
  // Above 0 while the late-bound replacement runs the program's Invoke: the worksheet members it
  // reaches record nothing themselves, so that one call is recorded once.
  int lateBoundDepth_ = 0;
};

}  // namespace korvel

#endif  // KORVEL_EXCEL_INTERCEPTION_H_
