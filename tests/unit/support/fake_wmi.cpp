#include "support/fake_wmi.h"

#include <stdexcept>
#include <sstream>
#include <utility>

#include "infra/wmi.h"

namespace hk::test {

namespace {

FakeWmi* g_current = nullptr;

std::wstring FromBstr(const BSTR text) { return text ? std::wstring(text, ::SysStringLen(text)) : std::wstring(); }

bool SameName(std::wstring_view a, std::wstring_view b) {
  return ::CompareStringOrdinal(a.data(), static_cast<int>(a.size()), b.data(), static_cast<int>(b.size()), TRUE) ==
         CSTR_EQUAL;
}

}  // namespace

// ---- values and rows --------------------------------------------------------

// Replaces a property of the same name with a variant of type vt that fill
// completes.
template <typename Fill>
FakeRow& FakeRow::Set(std::wstring_view name, CIMTYPE type, VARTYPE vt, Fill fill) {
  for (auto it = properties_.begin(); it != properties_.end();) {
    it = SameName(it->name, name) ? properties_.erase(it) : it + 1;
  }
  std::shared_ptr<VARIANT> value(new VARIANT, [](VARIANT* v) {
    ::VariantClear(v);
    delete v;
  });
  ::VariantInit(value.get());
  value->vt = vt;
  fill(*value);
  properties_.push_back(Property{std::wstring(name), std::move(value), type});
  return *this;
}

FakeRow& FakeRow::Text(std::wstring_view name, std::wstring_view value) {
  const auto text = [&](VARIANT& v) { v.bstrVal = ::SysAllocStringLen(value.data(), static_cast<UINT>(value.size())); };
  return Set(name, CIM_STRING, VT_BSTR, text);
}

FakeRow& FakeRow::Int32(std::wstring_view name, int32_t value, CIMTYPE type) {
  return Set(name, type, VT_I4, [&](VARIANT& v) { v.lVal = value; });
}

FakeRow& FakeRow::UInt8(std::wstring_view name, uint8_t value) {
  return Set(name, CIM_UINT8, VT_UI1, [&](VARIANT& v) { v.bVal = value; });
}

FakeRow& FakeRow::Bool(std::wstring_view name, bool value) {
  return Set(name, CIM_BOOLEAN, VT_BOOL, [&](VARIANT& v) { v.boolVal = value ? VARIANT_TRUE : VARIANT_FALSE; });
}

FakeRow& FakeRow::Null(std::wstring_view name, CIMTYPE type) {
  return Set(name, type, VT_NULL, [](VARIANT&) {});
}

FakeRow& FakeRow::ThrowOnGet(std::wstring_view name) {
  Set(name, CIM_STRING, VT_EMPTY, [](VARIANT&) {});
  properties_.back().throws = true;
  return *this;
}

const FakeRow::Property* FakeRow::Find(std::wstring_view name) const {
  for (const Property& p : properties_) {
    if (SameName(p.name, name)) return &p;
  }
  return nullptr;
}

FakeRow& FakeResults::AddRow() {
  steps_.push_back(Step{FakeRow()});
  return *steps_.back().row;
}

FakeResults& FakeResults::AddRow(const FakeRow& row) {
  AddRow() = row;
  return *this;
}

FakeResults& FakeResults::AddNullObject(DWORD last_error) {
  steps_.push_back(Step{std::nullopt, S_OK, 1, last_error});
  return *this;
}

FakeResults& FakeResults::AddNextFailure(HRESULT hr, ULONG returned, DWORD last_error) {
  steps_.push_back(Step{std::nullopt, hr, returned, last_error});
  return *this;
}

FakeResults& FakeResults::FailExecQuery(HRESULT hr) {
  exec_result_ = hr;
  return *this;
}

// ---- COM objects --------------------------------------------------------------

// Reference counting shared by the fakes. An object is never freed before its
// FakeWmi, so a release too many or a call after the last release is counted
// instead of crashing.
class FakeObject {
 public:
  FakeObject(FakeWmi& world, const char* kind) : world_(world), kind_(kind) {}
  virtual ~FakeObject() = default;
  FakeObject(const FakeObject&) = delete;
  FakeObject& operator=(const FakeObject&) = delete;

  ULONG refs() const { return refs_; }
  const char* kind() const { return kind_; }

 protected:
  // False (and counted) when the object was already released for good.
  bool Touch() {
    if (refs_ > 0) return true;
    ++world_.calls_after_release_;
    return false;
  }
  ULONG DoAddRef() {
    if (!Touch()) return 0;
    return ++refs_;
  }
  ULONG DoRelease() {
    if (refs_ == 0) {
      ++world_.over_releases_;
      return 0;
    }
    return --refs_;
  }
  // The interfaces of self; the first one also answers for IUnknown.
  template <typename First, typename... More, typename Self>
  HRESULT DoQueryInterface(Self* self, REFIID riid, void** out) {
    if (!out) return E_POINTER;
    *out = nullptr;
    if (!Touch()) return E_UNEXPECTED;
    if (riid == __uuidof(IUnknown) || riid == __uuidof(First)) *out = static_cast<First*>(self);
    ((*out = riid == __uuidof(More) ? static_cast<More*>(self) : *out), ...);
    if (!*out) return E_NOINTERFACE;
    DoAddRef();
    return S_OK;
  }

  FakeWmi& world_;

 private:
  const char* kind_;
  ULONG refs_ = 1;  // the creator's reference, handed to the caller
};

#define HK_FAKE_IUNKNOWN(...)                                                  \
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** out) override { \
    return DoQueryInterface<__VA_ARGS__>(this, riid, out);                     \
  }                                                                            \
  ULONG STDMETHODCALLTYPE AddRef() override { return DoAddRef(); }             \
  ULONG STDMETHODCALLTYPE Release() override { return DoRelease(); }

#define HK_NOTIMPL \
  { return Touch() ? E_NOTIMPL : E_UNEXPECTED; }
// A method no code under test calls.
#define HK_NOT_IMPLEMENTED(name, ...)         \
  HRESULT STDMETHODCALLTYPE name(__VA_ARGS__) \
  override HK_NOTIMPL

class FakeClassObject final : public IWbemClassObject, public FakeObject {
 public:
  FakeClassObject(FakeWmi& world, const FakeRow& row) : FakeObject(world, "row object"), row_(row) {}
  HK_FAKE_IUNKNOWN(IWbemClassObject)

  HRESULT STDMETHODCALLTYPE Get(LPCWSTR name, LONG flags, VARIANT* value, CIMTYPE* type, LONG* flavor) override {
    if (!Touch()) return E_UNEXPECTED;
    world_.property_reads_.push_back(name ? name : L"");  // only the test's own exception leaves Get
    if (!name || flags != 0) return WBEM_E_INVALID_PARAMETER;
    const FakeRow::Property* property = row_.Find(name);
    if (!property) return WBEM_E_NOT_FOUND;
    if (property->throws) throw std::runtime_error("fake WMI: Get throws as the test asked");
    if (value) {
      if (value->vt != VT_EMPTY) ++world_.dirty_variants_;
      ::VariantInit(value);
      const HRESULT hr = ::VariantCopy(value, property->value.get());
      if (FAILED(hr)) return hr;
    }
    if (type) *type = property->type;
    if (flavor) *flavor = WBEM_FLAVOR_ORIGIN_LOCAL;
    return WBEM_S_NO_ERROR;
  }

  HK_NOT_IMPLEMENTED(GetQualifierSet, IWbemQualifierSet**);
  HK_NOT_IMPLEMENTED(Put, LPCWSTR, LONG, VARIANT*, CIMTYPE);
  HK_NOT_IMPLEMENTED(Delete, LPCWSTR);
  HK_NOT_IMPLEMENTED(GetNames, LPCWSTR, LONG, VARIANT*, SAFEARRAY**);
  HK_NOT_IMPLEMENTED(BeginEnumeration, LONG);
  HK_NOT_IMPLEMENTED(Next, LONG, BSTR*, VARIANT*, CIMTYPE*, LONG*);
  HK_NOT_IMPLEMENTED(EndEnumeration);
  HK_NOT_IMPLEMENTED(GetPropertyQualifierSet, LPCWSTR, IWbemQualifierSet**);
  HK_NOT_IMPLEMENTED(Clone, IWbemClassObject**);
  HK_NOT_IMPLEMENTED(GetObjectText, LONG, BSTR*);
  HK_NOT_IMPLEMENTED(SpawnDerivedClass, LONG, IWbemClassObject**);
  HK_NOT_IMPLEMENTED(SpawnInstance, LONG, IWbemClassObject**);
  HK_NOT_IMPLEMENTED(CompareTo, LONG, IWbemClassObject*);
  HK_NOT_IMPLEMENTED(GetPropertyOrigin, LPCWSTR, BSTR*);
  HK_NOT_IMPLEMENTED(InheritsFrom, LPCWSTR);
  HK_NOT_IMPLEMENTED(GetMethod, LPCWSTR, LONG, IWbemClassObject**, IWbemClassObject**);
  HK_NOT_IMPLEMENTED(PutMethod, LPCWSTR, LONG, IWbemClassObject*, IWbemClassObject*);
  HK_NOT_IMPLEMENTED(DeleteMethod, LPCWSTR);
  HK_NOT_IMPLEMENTED(BeginMethodEnumeration, LONG);
  HK_NOT_IMPLEMENTED(NextMethod, LONG, BSTR*, IWbemClassObject**, IWbemClassObject**);
  HK_NOT_IMPLEMENTED(EndMethodEnumeration);
  HK_NOT_IMPLEMENTED(GetMethodQualifierSet, LPCWSTR, IWbemQualifierSet**);
  HK_NOT_IMPLEMENTED(GetMethodOrigin, LPCWSTR, BSTR*);

 private:
  FakeRow row_;
};

class FakeEnumerator final : public IEnumWbemClassObject, public FakeObject {
 public:
  FakeEnumerator(FakeWmi& world, const FakeResults& results)
      : FakeObject(world, "enumerator"), steps_(results.steps().begin(), results.steps().end()) {}
  HK_FAKE_IUNKNOWN(IEnumWbemClassObject)

  HRESULT STDMETHODCALLTYPE Next(LONG timeout, ULONG count, IWbemClassObject** objects, ULONG* returned) override {
    if (!Touch()) return E_UNEXPECTED;
    if (!objects || !returned || count != 1) return WBEM_E_INVALID_PARAMETER;
    *objects = nullptr;
    *returned = 0;
    try {
      world_.next_timeouts_.push_back(timeout);
      if (next_ >= steps_.size()) return WBEM_S_FALSE;
      const FakeResults::Step& step = steps_[next_++];
      if (step.row) {
        *objects = world_.Make<FakeClassObject>(*step.row);
        *returned = 1;
        return WBEM_S_NO_ERROR;
      }
      *returned = step.returned;
      ::SetLastError(step.last_error);
      return step.hr;
    } catch (...) {
      return E_OUTOFMEMORY;
    }
  }

  HK_NOT_IMPLEMENTED(Reset);
  HK_NOT_IMPLEMENTED(NextAsync, ULONG, IWbemObjectSink*);
  HK_NOT_IMPLEMENTED(Clone, IEnumWbemClassObject**);
  HK_NOT_IMPLEMENTED(Skip, LONG, ULONG);

 private:
  std::vector<FakeResults::Step> steps_;
  size_t next_ = 0;
};

class FakeServices final : public IWbemServices, public IClientSecurity, public FakeObject {
 public:
  explicit FakeServices(FakeWmi& world) : FakeObject(world, "services") {}

  // COM reaches SetBlanket through IClientSecurity, from inside
  // CoSetProxyBlanket: nothing here may throw.
  HK_FAKE_IUNKNOWN(IWbemServices, IClientSecurity)

  HRESULT STDMETHODCALLTYPE SetBlanket(IUnknown*, DWORD authn_service, DWORD authz_service, OLECHAR* server_principal,
                                       DWORD authn_level, DWORD imp_level, void* auth_info,
                                       DWORD capabilities) override {
    if (!Touch()) return E_UNEXPECTED;
    try {
      world_.blankets_.push_back(FakeWmi::Blanket{authn_service, authz_service, authn_level, imp_level, capabilities,
                                                  server_principal != nullptr, auth_info != nullptr});
    } catch (...) {
      return E_OUTOFMEMORY;
    }
    return world_.FailureAt(FakeWmiStep::kSetBlanket);
  }
  HK_NOT_IMPLEMENTED(QueryBlanket, IUnknown*, DWORD*, DWORD*, OLECHAR**, DWORD*, DWORD*, void**, DWORD*);
  HK_NOT_IMPLEMENTED(CopyProxy, IUnknown*, IUnknown**);

  HRESULT STDMETHODCALLTYPE ExecQuery(const BSTR language, const BSTR query, LONG flags, IWbemContext*,
                                      IEnumWbemClassObject** enumerator) override {
    if (!Touch()) return E_UNEXPECTED;
    if (!enumerator) return WBEM_E_INVALID_PARAMETER;
    *enumerator = nullptr;
    try {
      const std::wstring text = FromBstr(query);
      world_.queries_.push_back(FakeWmi::Query{FromBstr(language), text, flags});
      const FakeResults& results = world_.ResultsFor(text);
      if (FAILED(results.exec_result())) return results.exec_result();
      *enumerator = world_.Make<FakeEnumerator>(results);
      return WBEM_S_NO_ERROR;
    } catch (...) {
      return E_OUTOFMEMORY;
    }
  }

  HK_NOT_IMPLEMENTED(OpenNamespace, const BSTR, LONG, IWbemContext*, IWbemServices**, IWbemCallResult**);
  HK_NOT_IMPLEMENTED(CancelAsyncCall, IWbemObjectSink*);
  HK_NOT_IMPLEMENTED(QueryObjectSink, LONG, IWbemObjectSink**);
  HK_NOT_IMPLEMENTED(GetObject, const BSTR, LONG, IWbemContext*, IWbemClassObject**, IWbemCallResult**);
  HK_NOT_IMPLEMENTED(GetObjectAsync, const BSTR, LONG, IWbemContext*, IWbemObjectSink*);
  HK_NOT_IMPLEMENTED(PutClass, IWbemClassObject*, LONG, IWbemContext*, IWbemCallResult**);
  HK_NOT_IMPLEMENTED(PutClassAsync, IWbemClassObject*, LONG, IWbemContext*, IWbemObjectSink*);
  HK_NOT_IMPLEMENTED(DeleteClass, const BSTR, LONG, IWbemContext*, IWbemCallResult**);
  HK_NOT_IMPLEMENTED(DeleteClassAsync, const BSTR, LONG, IWbemContext*, IWbemObjectSink*);
  HK_NOT_IMPLEMENTED(CreateClassEnum, const BSTR, LONG, IWbemContext*, IEnumWbemClassObject**);
  HK_NOT_IMPLEMENTED(CreateClassEnumAsync, const BSTR, LONG, IWbemContext*, IWbemObjectSink*);
  HK_NOT_IMPLEMENTED(PutInstance, IWbemClassObject*, LONG, IWbemContext*, IWbemCallResult**);
  HK_NOT_IMPLEMENTED(PutInstanceAsync, IWbemClassObject*, LONG, IWbemContext*, IWbemObjectSink*);
  HK_NOT_IMPLEMENTED(DeleteInstance, const BSTR, LONG, IWbemContext*, IWbemCallResult**);
  HK_NOT_IMPLEMENTED(DeleteInstanceAsync, const BSTR, LONG, IWbemContext*, IWbemObjectSink*);
  HK_NOT_IMPLEMENTED(CreateInstanceEnum, const BSTR, LONG, IWbemContext*, IEnumWbemClassObject**);
  HK_NOT_IMPLEMENTED(CreateInstanceEnumAsync, const BSTR, LONG, IWbemContext*, IWbemObjectSink*);
  HK_NOT_IMPLEMENTED(ExecQueryAsync, const BSTR, const BSTR, LONG, IWbemContext*, IWbemObjectSink*);
  HK_NOT_IMPLEMENTED(ExecNotificationQuery, const BSTR, const BSTR, LONG, IWbemContext*, IEnumWbemClassObject**);
  HK_NOT_IMPLEMENTED(ExecNotificationQueryAsync, const BSTR, const BSTR, LONG, IWbemContext*, IWbemObjectSink*);
  HK_NOT_IMPLEMENTED(ExecMethod, const BSTR, const BSTR, LONG, IWbemContext*, IWbemClassObject*, IWbemClassObject**,
                     IWbemCallResult**);
  HK_NOT_IMPLEMENTED(ExecMethodAsync, const BSTR, const BSTR, LONG, IWbemContext*, IWbemClassObject*, IWbemObjectSink*);
};

class FakeLocator final : public IWbemLocator, public FakeObject {
 public:
  explicit FakeLocator(FakeWmi& world) : FakeObject(world, "locator") {}
  HK_FAKE_IUNKNOWN(IWbemLocator)

  HRESULT STDMETHODCALLTYPE ConnectServer(const BSTR resource, const BSTR, const BSTR, const BSTR, LONG, const BSTR,
                                          IWbemContext*, IWbemServices** services) override {
    if (!Touch()) return E_UNEXPECTED;
    if (!services) return WBEM_E_INVALID_PARAMETER;
    *services = nullptr;
    try {
      world_.connects_.push_back(FromBstr(resource));
      const HRESULT failure = world_.FailureAt(FakeWmiStep::kConnectServer);
      if (FAILED(failure)) return failure;
      *services = world_.Make<FakeServices>();
      return WBEM_S_NO_ERROR;
    } catch (...) {
      return E_OUTOFMEMORY;
    }
  }
};

#undef HK_FAKE_IUNKNOWN
#undef HK_NOTIMPL
#undef HK_NOT_IMPLEMENTED

// ---- the fake WMI ---------------------------------------------------------------

template <typename T, typename... Args>
T* FakeWmi::Make(Args&&... args) {
  auto object = std::make_unique<T>(*this, std::forward<Args>(args)...);
  T* raw = object.get();
  objects_.push_back(std::move(object));
  return raw;
}

FakeWmi::FakeWmi() : previous_factory_(hk::wbem::g_locatorFactory) {
  g_current = this;
  hk::wbem::g_locatorFactory = &FakeWmi::MakeLocator;
}

FakeWmi::~FakeWmi() {
  hk::wbem::g_locatorFactory = previous_factory_;
  g_current = nullptr;
}

HRESULT FakeWmi::MakeLocator(IWbemLocator** locator) {
  if (!locator) return E_POINTER;
  *locator = nullptr;
  if (!g_current) return E_UNEXPECTED;
  const HRESULT failure = g_current->FailureAt(FakeWmiStep::kCreateLocator);
  if (FAILED(failure)) return failure;
  try {
    *locator = g_current->Make<FakeLocator>();
  } catch (...) {
    return E_OUTOFMEMORY;
  }
  return S_OK;
}

FakeResults& FakeWmi::Results(const std::wstring& query) { return results_[query]; }

const FakeResults& FakeWmi::ResultsFor(const std::wstring& query) const {
  static const FakeResults kNoRows;
  auto it = results_.find(query);
  if (it == results_.end()) it = results_.find(std::wstring());
  return it == results_.end() ? kNoRows : it->second;
}

void FakeWmi::Fail(FakeWmiStep step, HRESULT hr) { failures_[step] = hr; }

HRESULT FakeWmi::FailureAt(FakeWmiStep step) const {
  const auto it = failures_.find(step);
  return it == failures_.end() ? S_OK : it->second;
}

int FakeWmi::ObjectsAlive() const {
  int alive = 0;
  for (const auto& object : objects_) alive += object->refs() > 0 ? 1 : 0;
  return alive;
}

std::string FakeWmi::Accounting() const {
  std::ostringstream out;
  out << "objects made " << objects_.size() << ", alive " << ObjectsAlive() << ", over-releases " << over_releases_
      << ", calls after release " << calls_after_release_;
  for (const auto& object : objects_) {
    if (object->refs() > 0) out << "\n  alive: " << object->kind() << " with " << object->refs() << " reference(s)";
  }
  return out.str();
}

}  // namespace hk::test
