// Gateway discovery: the DefaultIPGateway entries of every IP-enabled
// Win32_NetworkAdapterConfiguration, asked of WMI over COM directly (no script
// host). Every call starts from an empty text, so a later discovery never
// repeats an earlier one's gateways.
//
// The backend header comes before <windows.h>, whose CreateDirectory macro
// would otherwise rename a member of the class.
#include "platform/win32/win32_system.h"

#include <windows.h>
#include <objbase.h>
#include <oleauto.h>
#include <wbemidl.h>

namespace quillon::platform {
namespace {

// Owns one COM interface pointer.
template <class T>
class ComRef {
 public:
  ComRef() = default;
  ComRef(const ComRef&) = delete;
  ComRef& operator=(const ComRef&) = delete;
  ~ComRef() { Reset(); }
  void Reset() {
    if (p_ != nullptr) p_->Release();
    p_ = nullptr;
  }
  T** Out() {
    Reset();
    return &p_;
  }
  void** OutVoid() { return reinterpret_cast<void**>(Out()); }
  T* operator->() const { return p_; }
  T* Get() const { return p_; }

 private:
  T* p_ = nullptr;
};

// Owns one BSTR.
class Bstr {
 public:
  explicit Bstr(const wchar_t* text) : b_(SysAllocString(text)) {}
  Bstr(const Bstr&) = delete;
  Bstr& operator=(const Bstr&) = delete;
  ~Bstr() { SysFreeString(b_); }
  BSTR Get() const { return b_; }

 private:
  BSTR b_;
};

// Balances a successful CoInitializeEx (S_OK or S_FALSE) of this thread.
// When the thread already runs in the other apartment model
// (RPC_E_CHANGED_MODE), COM is usable but not ours to uninitialise.
class ComApartment {
 public:
  ComApartment() : hr_(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED)) {}
  ComApartment(const ComApartment&) = delete;
  ComApartment& operator=(const ComApartment&) = delete;
  ~ComApartment() {
    if (SUCCEEDED(hr_)) CoUninitialize();
  }
  bool Usable() const { return SUCCEEDED(hr_) || hr_ == RPC_E_CHANGED_MODE; }

 private:
  HRESULT hr_;
};

// A wide text in the ANSI code page.
std::string ToAnsi(const wchar_t* text, int length) {
  if (text == nullptr || length <= 0) return {};
  const int size = WideCharToMultiByte(CP_ACP, 0, text, length, nullptr, 0, nullptr, nullptr);
  if (size <= 0) return {};
  std::string out(static_cast<std::size_t>(size), '\0');
  WideCharToMultiByte(CP_ACP, 0, text, length, out.data(), size, nullptr, nullptr);
  return out;
}

// Appends each entry of a DefaultIPGateway value followed by ";". The value
// is an array of BSTR, or VT_NULL for an adapter without a gateway. False
// when the array cannot be read.
bool AppendGateways(const VARIANT& value, std::string& text) {
  if (value.vt != (VT_ARRAY | VT_BSTR) || value.parray == nullptr) return true;
  SAFEARRAY* array = value.parray;
  if (SafeArrayGetDim(array) != 1) return false;
  LONG lower = 0;
  LONG upper = -1;
  if (FAILED(SafeArrayGetLBound(array, 1, &lower)) || FAILED(SafeArrayGetUBound(array, 1, &upper))) {
    return false;
  }
  for (LONG i = lower; i <= upper; ++i) {
    BSTR entry = nullptr;
    if (FAILED(SafeArrayGetElement(array, &i, &entry))) return false;  // gives a copy
    text += ToAnsi(entry, static_cast<int>(SysStringLen(entry)));
    text += ';';
    SysFreeString(entry);
  }
  return true;
}

// The discovery proper; `text` keeps whatever was collected before a failure.
void CollectGateways(std::string& text) {
  // Process-wide security may already be set (by the window, or an earlier
  // discovery): RPC_E_TOO_LATE then, and the proxy blanket below still
  // applies to our own proxies. Other failures are left to the calls below.
  CoInitializeSecurity(nullptr, -1, nullptr, nullptr, RPC_C_AUTHN_LEVEL_DEFAULT,
                       RPC_C_IMP_LEVEL_IMPERSONATE, nullptr, EOAC_NONE, nullptr);

  ComRef<IWbemLocator> locator;
  if (FAILED(CoCreateInstance(CLSID_WbemLocator, nullptr, CLSCTX_INPROC_SERVER, IID_IWbemLocator,
                              locator.OutVoid()))) {
    return;
  }
  ComRef<IWbemServices> services;
  const Bstr ns(L"ROOT\\CIMV2");
  if (FAILED(locator->ConnectServer(ns.Get(), nullptr, nullptr, nullptr, 0, nullptr, nullptr,
                                    services.Out()))) {
    return;
  }
  if (FAILED(CoSetProxyBlanket(services.Get(), RPC_C_AUTHN_WINNT, RPC_C_AUTHZ_NONE, nullptr,
                               RPC_C_AUTHN_LEVEL_CALL, RPC_C_IMP_LEVEL_IMPERSONATE, nullptr,
                               EOAC_NONE))) {
    return;
  }

  ComRef<IEnumWbemClassObject> rows;
  const Bstr language(L"WQL");
  const Bstr query(L"SELECT * FROM Win32_NetworkAdapterConfiguration WHERE IPEnabled = True");
  if (FAILED(services->ExecQuery(language.Get(), query.Get(),
                                 WBEM_FLAG_FORWARD_ONLY | WBEM_FLAG_RETURN_IMMEDIATELY, nullptr,
                                 rows.Out()))) {
    return;
  }
  // The enumerator's own proxy takes the same blanket; where it cannot (an
  // in-process enumerator) the call fails harmlessly.
  CoSetProxyBlanket(rows.Get(), RPC_C_AUTHN_WINNT, RPC_C_AUTHZ_NONE, nullptr, RPC_C_AUTHN_LEVEL_CALL,
                    RPC_C_IMP_LEVEL_IMPERSONATE, nullptr, EOAC_NONE);

  for (;;) {
    ComRef<IWbemClassObject> row;
    ULONG returned = 0;
    const HRESULT hr = rows->Next(static_cast<LONG>(WBEM_INFINITE), 1, row.Out(), &returned);
    if (FAILED(hr) || returned == 0 || row.Get() == nullptr) return;
    VARIANT value;
    VariantInit(&value);
    if (FAILED(row->Get(L"DefaultIPGateway", 0, &value, nullptr, nullptr))) return;
    const bool read = AppendGateways(value, text);
    VariantClear(&value);
    if (!read) return;
  }
}

}  // namespace

std::string Win32System::DiscoverGatewayText() {
  std::string text;
  const ComApartment apartment;
  if (apartment.Usable()) CollectGateways(text);
  return text;
}

}  // namespace quillon::platform
