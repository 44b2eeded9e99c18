// The in-memory program's Application as the library sees it in the scripted host: its Hwnd is the
// real main window (the program's own answers a window of its in-memory window system), and every
// other member runs the program's own.
//
// The program's interface table cannot serve this object directly: its functions take the object
// they are called on for one of the program's own. So the object has a table of its own with the
// same descriptions, whose slots call the program's current slot with the program's object.
//
// REQUIRES: used on the program's thread.
#ifndef KORVEL_TESTS_WIN32_SCRIPTED_HOST_HWND_APPLICATION_H_
#define KORVEL_TESTS_WIN32_SCRIPTED_HOST_HWND_APPLICATION_H_

#include <cstdint>
#include <memory>
#include <span>

#include "platform/dispatch.h"

namespace korvel::win32 {

class HwndApplication : public Dispatch {
 public:
  // REQUIRES: application is not null.
  HwndApplication(std::shared_ptr<Dispatch> application, int32_t mainWindow);

  HResult invoke(int32_t memberId, InvokeKind kind, std::span<Variant> arguments, Variant* result,
                 uint32_t locale = kLocaleSystemDefault) override;
  InterfaceTable* interfaceTable() override { return table_.get(); }
  std::shared_ptr<Dispatch> queryInterface(const InterfaceId& iid) override;
  uint32_t advise(const InterfaceId& events, std::shared_ptr<Dispatch> sink) override;
  bool unadvise(uint32_t cookie) override;

  const std::shared_ptr<Dispatch>& application() const { return application_; }

 private:
  // The member by id: Hwnd here, the rest through the program's object.
  HResult call(int32_t memberId, InvokeKind kind, std::span<Variant> arguments, Variant* result,
               uint32_t locale);

  std::shared_ptr<Dispatch> application_;
  int32_t mainWindow_;
  std::unique_ptr<InterfaceTable> table_;
};

}  // namespace korvel::win32

#endif  // KORVEL_TESTS_WIN32_SCRIPTED_HOST_HWND_APPLICATION_H_
