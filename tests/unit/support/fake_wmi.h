// A hand-written WMI for tests: Wine's WMI has no rows for most classes the
// tools read. While a FakeWmi lives, wmi::create_instance gets a fake locator
// from it; the objects behind it serve the rows the test declares, inject the
// failures it asks for and count every reference:
//
//   hk::test::FakeWmi fake;
//   fake.Results().AddRow().Text(L"Name", L"alice").Bool(L"Disabled", false);
//   fake.Results(L"SELECT ...").FailExecQuery();       // only this query text fails
//   fake.Fail(hk::test::FakeWmiStep::kConnectServer);
//   EXPECT_TRUE(fake.AllReleasedOnce()) << fake.Accounting();
//
// CoSetProxyBlanket reaches the fake connection's IClientSecurity for real.
// Everything not listed here answers E_NOTIMPL. Link fake_wmi.cpp.
#pragma once
#include <windows.h>
#include <objbase.h>
#include <wbemidl.h>

#include <cstdint>
#include <deque>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace hk::test {

// One row object's properties, found by name without regard to case as WMI
// does. Each setter replaces a property of the same name.
class FakeRow {
 public:
  FakeRow& Text(std::wstring_view name, std::wstring_view value);                    // VT_BSTR, CIM_STRING
  FakeRow& Int32(std::wstring_view name, int32_t value, CIMTYPE type = CIM_SINT32);  // VT_I4: sint32, uint32, uint16
  FakeRow& UInt8(std::wstring_view name, uint8_t value);                             // VT_UI1, CIM_UINT8
  FakeRow& Bool(std::wstring_view name, bool value);                                 // VT_BOOL, CIM_BOOLEAN
  FakeRow& Null(std::wstring_view name, CIMTYPE type);                               // VT_NULL
  // Get of this property throws std::runtime_error, to reach a consumer's
  // catch. Real COM never throws; this works only because the code under
  // test calls Get itself, not through a Windows frame.
  FakeRow& ThrowOnGet(std::wstring_view name);

  struct Property {
    std::wstring name;
    std::shared_ptr<VARIANT> value;  // copies of a row share it
    CIMTYPE type = CIM_EMPTY;
    bool throws = false;
  };
  const Property* Find(std::wstring_view name) const;

 private:
  template <typename Fill>
  FakeRow& Set(std::wstring_view name, CIMTYPE type, VARTYPE vt, Fill fill);
  std::vector<Property> properties_;
};

// What one query text answers: ExecQuery's result, then what each Next gives,
// in order; after the last step Next reports no more rows (WBEM_S_FALSE).
class FakeResults {
 public:
  // The returned row stays valid while the FakeWmi lives.
  FakeRow& AddRow();
  FakeResults& AddRow(const FakeRow& row);
  // Next succeeds with a count of 1 but no object. last_error is set as the
  // thread's last error for the log line the code writes.
  FakeResults& AddNullObject(DWORD last_error = 0);
  // Next fails with hr, returning the given count and no object. A caller
  // that calls Next again gets the following steps.
  FakeResults& AddNextFailure(HRESULT hr = WBEM_E_FAILED, ULONG returned = 0, DWORD last_error = 0);
  FakeResults& FailExecQuery(HRESULT hr = WBEM_E_INVALID_QUERY);

  // A row, or what Next returns without one.
  struct Step {
    std::optional<FakeRow> row;
    HRESULT hr = S_OK;
    ULONG returned = 0;
    DWORD last_error = 0;
  };
  const std::deque<Step>& steps() const { return steps_; }
  HRESULT exec_result() const { return exec_result_; }

 private:
  std::deque<Step> steps_;
  HRESULT exec_result_ = WBEM_S_NO_ERROR;
};

enum class FakeWmiStep {
  kCreateLocator,  // the locator factory fails
  kConnectServer,  // IWbemLocator::ConnectServer fails
  kSetBlanket,     // IClientSecurity::SetBlanket (CoSetProxyBlanket) fails
};

class FakeObject;

class FakeWmi {
 public:
  // Installs the fake as the locator factory; the destructor puts the real
  // one back. One FakeWmi at a time.
  FakeWmi();
  ~FakeWmi();
  FakeWmi(const FakeWmi&) = delete;
  FakeWmi& operator=(const FakeWmi&) = delete;

  // The results of one query text (exact text); the default, an empty text,
  // answers every query without results of its own.
  FakeResults& Results(const std::wstring& query = std::wstring());
  void Fail(FakeWmiStep step, HRESULT hr = WBEM_E_FAILED);

  // What the code asked for.
  struct Query {
    std::wstring language;
    std::wstring text;
    LONG flags = 0;
  };
  struct Blanket {
    DWORD authn_service = 0, authz_service = 0, authn_level = 0, imp_level = 0, capabilities = 0;
    bool server_principal = false, auth_info = false;
  };
  // The namespace of each ConnectServer.
  const std::vector<std::wstring>& connects() const { return connects_; }
  const std::vector<Query>& queries() const { return queries_; }
  const std::vector<Blanket>& blankets() const { return blankets_; }
  const std::vector<LONG>& next_timeouts() const { return next_timeouts_; }
  // Names passed to IWbemClassObject::Get, in order.
  const std::vector<std::wstring>& property_reads() const { return property_reads_; }

  // Every fake object made so far released to zero, none once too often, none
  // called after its last release.
  bool AllReleasedOnce() const { return ObjectsAlive() == 0 && over_releases_ == 0 && calls_after_release_ == 0; }
  // Get into a VARIANT that still held a value (WMI would leak it).
  int DirtyVariants() const { return dirty_variants_; }
  // A line per object still alive and the counters, for failure messages.
  std::string Accounting() const;

 private:
  friend class FakeObject;
  friend class FakeLocator;
  friend class FakeServices;
  friend class FakeEnumerator;
  friend class FakeClassObject;
  static HRESULT MakeLocator(IWbemLocator** locator);
  template <typename T, typename... Args>
  T* Make(Args&&... args);
  const FakeResults& ResultsFor(const std::wstring& query) const;
  HRESULT FailureAt(FakeWmiStep step) const;
  int ObjectsAlive() const;

  std::map<std::wstring, FakeResults> results_;
  std::map<FakeWmiStep, HRESULT> failures_;
  std::vector<std::unique_ptr<FakeObject>> objects_;
  std::vector<std::wstring> connects_;
  std::vector<Query> queries_;
  std::vector<Blanket> blankets_;
  std::vector<LONG> next_timeouts_;
  std::vector<std::wstring> property_reads_;
  int over_releases_ = 0;
  int calls_after_release_ = 0;
  int dirty_variants_ = 0;
  HRESULT (*previous_factory_)(IWbemLocator**) = nullptr;
};

}  // namespace hk::test
