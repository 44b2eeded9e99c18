// Small stand-ins for the host program's objects, for the unit tests of the runtime's side: a
// FakeObject answers property reads from a map, stores property writes, runs methods through
// handlers, fails the members a test names, and logs every call. Objects can share an interface
// table, whose slots call the object's own behaviour, so that replacing a slot behaves as it does
// in the program.
#ifndef KORVEL_TESTS_EXCEL_FAKE_OBJECTS_H_
#define KORVEL_TESTS_EXCEL_FAKE_OBJECTS_H_

#include <cstdint>
#include <cstdio>
#include <functional>
#include <map>
#include <memory>
#include <set>
#include <span>
#include <string>
#include <vector>

#include "platform/dispatch.h"
#include "platform/variant.h"

namespace korvel::testing {

class FakeObject : public Dispatch {
 public:
  using Method = std::function<HResult(std::span<Variant> arguments, Variant* result)>;

  explicit FakeObject(std::string name = "object", std::shared_ptr<InterfaceTable> table = {})
      : name(std::move(name)), table(std::move(table)) {}

  std::string name;
  std::shared_ptr<InterfaceTable> table;
  // Property values by member id; a read of a missing property answers kDispEMemberNotFound.
  std::map<int32_t, Variant> properties;
  // Methods, and property reads that take arguments (Item, Range ...), by member id.
  std::map<int32_t, Method> methods;
  // Members whose every call answers kEFail.
  std::set<int32_t> failing;
  // "get 0x13C", "put 0x4BC", "call 0x103": every call in order, through invoke or the table.
  std::vector<std::string> calls;
  std::vector<std::vector<Variant>> callArguments;

  HResult invoke(int32_t memberId, InvokeKind kind, std::span<Variant> arguments, Variant* result,
                 uint32_t locale = kLocaleSystemDefault) override {
    if (table) {
      if (const FunctionDescription* f = table->find(memberId, kind)) {
        MemberFunction slot = table->slot(f->slot);
        if (slot) return slot(*this, arguments, result, locale);
      }
    }
    return own(memberId, kind, arguments, result);
  }

  InterfaceTable* interfaceTable() override { return table.get(); }

  // The object's own behaviour of a member, as the program implements it.
  HResult own(int32_t memberId, InvokeKind kind, std::span<Variant> arguments, Variant* result) {
    static const char* const kKinds[] = {"", "call", "get", "", "put"};
    char text[32];
    std::snprintf(text, sizeof(text), "%s 0x%X", kKinds[int(kind) < 5 ? int(kind) : 0],
                  unsigned(memberId));
    calls.push_back(text);
    callArguments.emplace_back(arguments.begin(), arguments.end());
    if (failing.count(memberId)) return kEFail;
    if (auto m = methods.find(memberId); m != methods.end()) return m->second(arguments, result);
    if (kind == InvokeKind::kPropertyPut) {
      if (arguments.empty()) return kDispEBadParamCount;
      properties[memberId] = arguments.back();
      return kSOk;
    }
    auto p = properties.find(memberId);
    if (p == properties.end()) return kDispEMemberNotFound;
    if (result != nullptr) *result = p->second;
    return kSOk;
  }

  // The calls made so far that match the prefix ("put 0x4BC").
  int count(const std::string& call) const {
    int n = 0;
    for (const std::string& c : calls) n += c == call;
    return n;
  }
};

// A table for an interface whose members are (id, kind) pairs; every slot calls the object's
// own behaviour.
inline std::shared_ptr<InterfaceTable> makeInterfaceTable(
    const InterfaceId& iid, const std::vector<std::pair<int32_t, InvokeKind>>& members) {
  std::vector<FunctionDescription> functions;
  std::vector<MemberFunction> slots;
  for (size_t i = 0; i < members.size(); ++i) {
    // Slots start after the IUnknown and IDispatch entries, as in a dual interface.
    functions.push_back({members[i].first, members[i].second, i + 7});
  }
  slots.resize(members.size() + 7);
  for (size_t i = 0; i < members.size(); ++i) {
    int32_t id = members[i].first;
    InvokeKind kind = members[i].second;
    slots[i + 7] = [id, kind](Dispatch& self, std::span<Variant> arguments, Variant* result,
                              uint32_t) {
      return static_cast<FakeObject&>(self).own(id, kind, arguments, result);
    };
  }
  return std::make_shared<InterfaceTable>(iid, std::move(functions), std::move(slots));
}

inline Variant object(const std::shared_ptr<FakeObject>& o) { return Variant::dispatch(o); }

}  // namespace korvel::testing

#endif  // KORVEL_TESTS_EXCEL_FAKE_OBJECTS_H_
