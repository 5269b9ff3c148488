// A WMI for tests (Wine's has no rows for most classes the tools read): while
// a FakeWmi lives, wmi::create_instance gets its locator, whose objects serve
// the rows declared per query text, fail where asked and count references.
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
// does; the last one set of a name counts.
class FakeRow {
 public:
  FakeRow& Text(std::wstring_view name, std::wstring_view value) { return Set(name, CIM_STRING, VT_BSTR, 0, value); }
  // VT_I4 serves sint32, uint32 and uint16 alike.
  FakeRow& Int32(std::wstring_view name, int32_t value, CIMTYPE type = CIM_SINT32) {
    return Set(name, type, VT_I4, value);
  }
  FakeRow& UInt8(std::wstring_view name, uint8_t value) { return Set(name, CIM_UINT8, VT_UI1, value); }
  FakeRow& Bool(std::wstring_view name, bool value) {
    return Set(name, CIM_BOOLEAN, VT_BOOL, value ? VARIANT_TRUE : VARIANT_FALSE);
  }
  FakeRow& Null(std::wstring_view name, CIMTYPE type) { return Set(name, type, VT_NULL, 0); }
  // Get of this property throws, to reach a consumer's catch. Real COM never
  // throws; this works only because the code under test calls Get itself.
  FakeRow& ThrowOnGet(std::wstring_view name) { return Set(name, CIM_STRING, VT_EMPTY, 0, {}, true); }

  struct Property {
    std::wstring name;
    CIMTYPE type;
    VARTYPE vt;
    LONGLONG bits;  // the value of a scalar, as VARIANT's members overlap
    std::wstring text;
    bool throws;
  };
  const Property* Find(std::wstring_view name) const;

 private:
  FakeRow& Set(std::wstring_view name, CIMTYPE type, VARTYPE vt, LONGLONG bits, std::wstring_view text = {},
               bool throws = false) {
    properties_.push_back(Property{std::wstring(name), type, vt, bits, std::wstring(text), throws});
    return *this;
  }
  std::vector<Property> properties_;
};

// What one query text answers: ExecQuery's result, then what each Next gives,
// in order; after the last step Next reports no more rows (WBEM_S_FALSE).
class FakeResults {
 public:
  FakeRow& AddRow() { return *steps.emplace_back(Step{FakeRow()}).row; }
  FakeResults& AddRow(const FakeRow& row) { return Add({row}); }
  // Next succeeds with a count of 1 but no object, last_error as the last error.
  FakeResults& AddNullObject(DWORD last_error = 0) { return Add({std::nullopt, S_OK, 1, last_error}); }
  // Next fails with hr and the given count; a later Next goes on.
  FakeResults& AddNextFailure(HRESULT hr = WBEM_E_FAILED, ULONG returned = 0, DWORD last_error = 0) {
    return Add({std::nullopt, hr, returned, last_error});
  }
  FakeResults& FailExecQuery(HRESULT hr = WBEM_E_INVALID_QUERY) {
    exec_result = hr;
    return *this;
  }

  struct Step {
    std::optional<FakeRow> row;
    HRESULT hr = S_OK;
    ULONG returned = 0;
    DWORD last_error = 0;
  };
  std::deque<Step> steps;
  HRESULT exec_result = WBEM_S_NO_ERROR;

 private:
  FakeResults& Add(Step step) {
    steps.push_back(std::move(step));
    return *this;
  }
};

enum class FakeWmiStep {
  kCreateLocator,  // the locator factory
  kConnectServer,  // IWbemLocator::ConnectServer
  kSetBlanket,     // IClientSecurity::SetBlanket, reached through CoSetProxyBlanket
};

class FakeObject;

// One at a time; the destructor puts the real locator factory back.
class FakeWmi {
 public:
  FakeWmi();
  ~FakeWmi();

  FakeResults& Results(const std::wstring& query = std::wstring()) { return results_[query]; }
  void Fail(FakeWmiStep step, HRESULT hr = WBEM_E_FAILED) { failures_[step] = hr; }

  struct Query {
    std::wstring language, text;
    LONG flags;
  };
  const std::vector<Query>& queries() const { return queries_; }
  // Per call: ConnectServer's namespace, SetBlanket's arguments (principal
  // and identity as given or not), Next's timeout.
  const std::vector<std::wstring>& connects() const { return connects_; }
  const std::vector<std::vector<DWORD>>& blankets() const { return blankets_; }
  const std::vector<LONG>& next_timeouts() const { return next_timeouts_; }

  // Every fake object released to zero, none once too often, none called
  // after its last release.
  bool AllReleasedOnce() const { return ObjectsAlive() == 0 && over_releases_ == 0 && calls_after_release_ == 0; }
  // Get into a VARIANT that still held a value (WMI would leak it).
  int DirtyVariants() const { return dirty_variants_; }
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
  int ObjectsAlive() const;

  std::map<std::wstring, FakeResults> results_;
  std::map<FakeWmiStep, HRESULT> failures_;  // S_OK where none was asked
  std::vector<std::unique_ptr<FakeObject>> objects_;
  std::vector<Query> queries_;
  std::vector<std::wstring> connects_;
  std::vector<std::vector<DWORD>> blankets_;
  std::vector<LONG> next_timeouts_;
  int over_releases_ = 0, calls_after_release_ = 0, dirty_variants_ = 0;
  HRESULT (*previous_factory_)(IWbemLocator**) = nullptr;
};

}  // namespace hk::test
