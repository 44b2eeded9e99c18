// The DDE client of the Win32 host, over the system's DDE management library: one client-only
// instance per object, conversations opened with string handles, advise loops and requests in
// the text format, and the library's callback handing advise data to the runtime.
//
// REQUIRES: every call is made on the thread that called initialize (the host program's
// user-interface thread); the callback arrives there from its message loop or from inside a
// transaction's wait.
#ifndef KORVEL_HOSTS_WIN32_WIN32_DDE_H_
#define KORVEL_HOSTS_WIN32_WIN32_DDE_H_

#include <windows.h>
// windows.h first: the library's header needs its types.
#include <ddeml.h>

#include <cstdint>
#include <optional>
#include <set>
#include <string>
#include <string_view>

#include "platform/dde.h"

namespace korvel::win32 {

class Win32Dde : public Dde {
 public:
  Win32Dde() = default;
  ~Win32Dde() override;
  Win32Dde(const Win32Dde&) = delete;
  Win32Dde& operator=(const Win32Dde&) = delete;

  bool initialize(AdviseCallback callback) override;
  void uninitialize() override;
  bool initialized() const override { return instance_ != 0; }
  DdeConversation connect(std::u16string_view service, std::u16string_view topic) override;
  bool startAdvise(DdeConversation conversation, std::u16string_view item,
                   uint32_t timeoutMilliseconds) override;
  std::optional<std::string> request(DdeConversation conversation, std::u16string_view item,
                                     uint32_t timeoutMilliseconds) override;

 private:
  static HDDEDATA CALLBACK callback(UINT type, UINT format, HCONV conversation, HSZ topic, HSZ item,
                                    HDDEDATA data, ULONG_PTR data1, ULONG_PTR data2);
  HDDEDATA adviseData(HCONV conversation, UINT format, HSZ item, HDDEDATA data);
  // The conversation when it is one of this client's and still open; null otherwise.
  HCONV ownConversation(DdeConversation conversation) const;
  HSZ stringHandle(std::u16string_view text) const;

  DWORD instance_ = 0;
  AdviseCallback callback_;
  std::set<HCONV> conversations_;
  // Advise callbacks running on this object; the instance is not ended under them.
  int delivering_ = 0;
};

}  // namespace korvel::win32

#endif  // KORVEL_HOSTS_WIN32_WIN32_DDE_H_
