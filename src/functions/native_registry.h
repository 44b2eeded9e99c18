// The registry of worksheet functions that the library computes itself: every natively
// implemented name, with its NativeFunction. Call nodes find their routine here (through the
// catalogue's FunctionResolver) when they are built; a name without a routine, or not registered
// at all, goes to the host program.
//
// Each function family ends its source file with one table of (name, routine) entries and a
// function returning it (declared in native_families.h); the registry takes the routines from
// those tables. A family joins by adding its file and listing its table in builtInFamilyTables().
// Until then its names are registered without a routine: NativeFunction::isNative() is false and
// their calls go to the host program, never to a routine that answers wrongly.
//
// REQUIRES: built once while the library object is created, after the catalogue; read-only
// afterwards, on the thread that evaluates formulas.
#ifndef KORVEL_FUNCTIONS_NATIVE_REGISTRY_H_
#define KORVEL_FUNCTIONS_NATIVE_REGISTRY_H_

#include <cstddef>
#include <functional>
#include <map>
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "engine/native_function.h"

namespace korvel {

// One row of a family's table.
struct NativeEntry {
  const char16_t* name;  // upper case, as formulas spell it
  NativeRoutine routine;
};
using NativeTable = std::span<const NativeEntry>;

// A natively implemented name. An alias runs the routine of the function it stands for.
struct NativeName {
  const char16_t* name;
  const char16_t* aliasOf;  // null for a function's own name
};

// The registered names, family by family: 164 functions under 166 names.
std::span<const NativeName> nativeNames();

// The tables of the families that are written, in the order of native_families.h.
std::vector<NativeTable> builtInFamilyTables();

class NativeRegistry {
 public:
  static constexpr size_t kNameCount = 166;

  // Registers every name with the routines of the built-in family tables, then seeds the random
  // generator of RAND.
  NativeRegistry();
  // Registers every name with the routines of the given tables, without touching the random
  // generator (tests install their own routines this way).
  explicit NativeRegistry(std::span<const NativeTable> familyTables);
  ~NativeRegistry();
  NativeRegistry(const NativeRegistry&) = delete;
  NativeRegistry& operator=(const NativeRegistry&) = delete;

  // The process-wide registry, built on first use from the built-in tables.
  static const NativeRegistry& instance();

  // The function registered under exactly this name (case-sensitive), or null. The result may
  // have no routine yet (isNative() false).
  const NativeFunction* findNative(std::u16string_view name) const;

  size_t size() const { return functions_.size(); }
  // Number of registered names that have a routine.
  size_t nativeCount() const;
  // Table entries that were not taken: a name that is not registered, a name given twice (the
  // first entry wins), an alias (it follows its function) or an entry without a routine. Empty
  // when the family tables are sound.
  const std::vector<std::u16string>& rejectedEntries() const { return rejected_; }

 private:
  void registerAll(std::span<const NativeTable> familyTables);

  std::map<std::u16string, std::unique_ptr<NativeFunction>, std::less<>> functions_;
  std::vector<std::u16string> rejected_;
};

}  // namespace korvel

#endif  // KORVEL_FUNCTIONS_NATIVE_REGISTRY_H_
