// The catalogue of worksheet functions: every function a compiled formula may call, by name and by
// the host program's function number, with its argument counts and the class of each argument and
// of its result. Call nodes resolve their names through it, the evaluator decides from the classes
// how to evaluate arguments, and formula texts for the host program take their function names from
// it (localised when the launcher delivered a name table).
//
// REQUIRES: built once before the native functions are registered; afterwards only read, except
// for loadLocalisedNames, which runs on the command thread before the first recalculation.
#ifndef KORVEL_FUNCTIONS_FUNCTION_CATALOGUE_H_
#define KORVEL_FUNCTIONS_FUNCTION_CATALOGUE_H_

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "model/nodes/node.h"

namespace korvel {

class NativeRegistry;

// Bits of FunctionDescriptor::flags. Exactly one of the kind bits is set.
inline constexpr uint32_t kFunctionOrdinary = 0x1;
inline constexpr uint32_t kFunctionMacro = 0x2;     // CALL, EVALUATE, REGISTER.ID
inline constexpr uint32_t kFunctionVolatile = 0x4;  // CELL, INDIRECT, NOW, RAND, ...
// An argument-type letter 'R' or 'N': some argument may stay a reference.
inline constexpr uint32_t kFunctionTakesReference = 0x8;
// An argument-type letter 'A': some argument is taken as a whole array.
inline constexpr uint32_t kFunctionTakesArray = 0x10;

// How an argument (or a result) is to be evaluated.
enum ArgumentClass : int {
  kClassNone = 0,         // no such argument, or nothing known about it
  kClassValue = 1,        // single values, element by element over arrays
  kClassReference = 2,    // a reference or an array, handed over whole
  kClassArray = 3,        // an array, handed over whole
  kClassUnevaluated = 4,  // the reference itself, not its values
  // A single value that is never taken element by element: an array or a range of several cells
  // where the others would be lifted gives #VALUE! (the engineering and complex-number functions).
  kClassSingle = 5,
};

struct FunctionDescriptor {
  std::u16string name;
  int16_t minimumArguments = 0;
  int16_t maximumArguments = 0;
  uint32_t flags = 0;
  char returnType = 0;  // 'V', 'A', 'R' or 0 for none
  int16_t argumentTypeLength = 0;
  const char* argumentTypes = nullptr;  // static text, not owned; null when there is none
};

// The class of argument position (0-based): kClassNone at or past the maximum argument count, for
// a negative position and for a function without an argument-type string; otherwise the class of
// the letter at that position, the last letter standing for every later position.
ArgumentClass argumentClass(const FunctionDescriptor& descriptor, int position);
// The class of the return letter ('V' value, 'R' reference, 'A' array, none kClassNone).
ArgumentClass returnClass(const FunctionDescriptor& descriptor);

class FunctionCatalogue : public FunctionResolver {
 public:
  // Function numbers run from 0 to kNumberLimit - 1.
  static constexpr int kNumberLimit = 712;

  // Builds the catalogue.
  FunctionCatalogue();
  ~FunctionCatalogue() override;
  FunctionCatalogue(const FunctionCatalogue&) = delete;
  FunctionCatalogue& operator=(const FunctionCatalogue&) = delete;

  // The process-wide catalogue, built on first use.
  static FunctionCatalogue& instance();

  // Fills the tables from the built-in rows; does nothing when they are filled already.
  void build();

  // The number of a function name, compared exactly (upper case as catalogued); -1 when unknown.
  // The aliases "_XLFN.COUNTIFS" and "_XLFN.IFERROR" give the numbers of COUNTIFS and IFERROR.
  int numberOfName(std::u16string_view name) const;
  // The descriptor of a function number, or null when the number is outside 0..711 or no
  // function has it.
  const FunctionDescriptor* descriptorOfNumber(int number) const;
  // The name under which formula texts for the host program call the function (the localised
  // name once one was loaded), or null when no function has the number.
  const std::u16string* nameOfNumber(int number) const;

  // Replaces names of the number-to-name table from a launcher table: lines ended by CR LF (a bare
  // LF is accepted too), fields separated by ";". The first line holds column headers; the column
  // whose header equals languageName (compared case-insensitively) is used. Each following line
  // starts with a decimal function number; its field in that column becomes the function's name.
  // Lines whose first field is not a number in 0..711, numbers of no function and empty or
  // missing fields change nothing. Names still resolve to numbers by their English spelling.
  // Returns the number of lines after the header that were read, 0 when no column matched.
  int loadLocalisedNames(std::u16string_view languageName, std::u16string_view text);

  // Entries of the name table (catalogued functions and aliases) and filled descriptor slots.
  size_t nameCount() const { return numbers_.size(); }
  size_t descriptorCount() const;

  // The registry whose routines nativeFunction hands out; null (the default) stands for
  // NativeRegistry::instance(). The registry is borrowed and must outlive the catalogue's use.
  void setNativeRegistry(const NativeRegistry* registry) { registry_ = registry; }

  // FunctionResolver.
  int functionNumber(std::u16string_view upperName) const override {
    return numberOfName(upperName);
  }
  const std::u16string* functionName(int number) const override { return nameOfNumber(number); }
  // The registered function of the name only when it has a routine: a name whose family is not
  // written yet resolves to null, so its calls go to the host program.
  const NativeFunction* nativeFunction(std::u16string_view upperName) const override;
  // From the descriptor of the number; a number without descriptor gives -1, kClassNone and 0.
  int maximumArguments(int number) const override;
  int argumentClass(int number, int position) const override;
  int returnClass(int number) const override;
  uint32_t functionFlags(int number) const override;

 private:
  std::map<std::u16string, int, std::less<>> numbers_;
  std::vector<std::unique_ptr<FunctionDescriptor>> descriptors_;
  std::map<int, std::u16string> names_;
  const NativeRegistry* registry_ = nullptr;
};

}  // namespace korvel

#endif  // KORVEL_FUNCTIONS_FUNCTION_CATALOGUE_H_
