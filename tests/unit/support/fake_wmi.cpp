#include "support/fake_wmi.h"

#include <algorithm>
#include <stdexcept>
#include <utility>

#include "infra/wmi.h"

namespace hk::test {

namespace {

FakeWmi* g_current = nullptr;

bool SameName(std::wstring_view a, std::wstring_view b) {
  return ::CompareStringOrdinal(a.data(), static_cast<int>(a.size()), b.data(), static_cast<int>(b.size()), TRUE) ==
         CSTR_EQUAL;
}

}  // namespace

const FakeRow::Property* FakeRow::Find(std::wstring_view name) const {
  const auto p =
      std::find_if(properties_.rbegin(), properties_.rend(), [&](auto& p) { return SameName(p.name, name); });
  return p == properties_.rend() ? nullptr : &*p;
}

// Reference counting shared by the fakes. Objects live as long as their FakeWmi,
// so a release too many or a call after the last one is counted, not a crash.
class FakeObject {
 public:
  explicit FakeObject(FakeWmi& world) : world_(world) {}
  virtual ~FakeObject() = default;
  ULONG refs() const { return refs_; }

 protected:
  // False (and counted) when the object was already released for good.
  bool Touch() {
    if (refs_ > 0) return true;
    ++world_.calls_after_release_;
    return false;
  }
  ULONG DoAddRef() { return Touch() ? ++refs_ : 0; }
  ULONG DoRelease() {
    if (refs_ > 0) return --refs_;
    ++world_.over_releases_;
    return 0;
  }
  // The interfaces of self; the first one also answers for IUnknown.
  template <typename First, typename... More, typename Self>
  HRESULT DoQueryInterface(Self* self, REFIID riid, void** out) {
    if (!Touch()) return E_UNEXPECTED;
    *out = riid == __uuidof(IUnknown) || riid == __uuidof(First) ? static_cast<First*>(self) : nullptr;
    ((*out = riid == __uuidof(More) ? static_cast<More*>(self) : *out), ...);
    if (!*out) return E_NOINTERFACE;
    DoAddRef();
    return S_OK;
  }

  FakeWmi& world_;

 private:
  ULONG refs_ = 1;  // the creator's reference, handed to the caller
};

#define HK_FAKE_IUNKNOWN(...)                                                  \
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** out) override { \
    return DoQueryInterface<__VA_ARGS__>(this, riid, out);                     \
  }                                                                            \
  ULONG STDMETHODCALLTYPE AddRef() override { return DoAddRef(); }             \
  ULONG STDMETHODCALLTYPE Release() override { return DoRelease(); }

// A method no code under test calls.
#define HK_NOT_IMPLEMENTED(parameters, name) \
  HRESULT STDMETHODCALLTYPE name parameters override { return Touch() ? E_NOTIMPL : E_UNEXPECTED; }

class FakeClassObject final : public IWbemClassObject, public FakeObject {
 public:
  FakeClassObject(FakeWmi& world, const FakeRow& row) : FakeObject(world), row_(row) {}
  HK_FAKE_IUNKNOWN(IWbemClassObject)

  HRESULT STDMETHODCALLTYPE Get(LPCWSTR name, LONG flags, VARIANT* value, CIMTYPE* type, LONG* flavor) override {
    if (!Touch()) return E_UNEXPECTED;
    if (!name || flags != 0) return WBEM_E_INVALID_PARAMETER;
    const FakeRow::Property* property = row_.Find(name);
    if (!property) return WBEM_E_NOT_FOUND;
    if (property->throws) throw std::runtime_error("fake WMI: Get throws as the test asked");
    if (value) {
      if (value->vt != VT_EMPTY) ++world_.dirty_variants_;
      ::VariantInit(value);
      value->vt = property->vt;
      value->llVal = property->bits;
      if (property->vt == VT_BSTR) value->bstrVal = ::SysAllocString(property->text.c_str());
    }
    if (type) *type = property->type;
    if (flavor) *flavor = WBEM_FLAVOR_ORIGIN_LOCAL;
    return WBEM_S_NO_ERROR;
  }

  HK_NOT_IMPLEMENTED((IWbemQualifierSet**), GetQualifierSet);
  HK_NOT_IMPLEMENTED((LPCWSTR, LONG, VARIANT*, CIMTYPE), Put);
  HK_NOT_IMPLEMENTED((LPCWSTR), Delete);
  HK_NOT_IMPLEMENTED((LPCWSTR), InheritsFrom);
  HK_NOT_IMPLEMENTED((LPCWSTR), DeleteMethod);
  HK_NOT_IMPLEMENTED((LPCWSTR, LONG, VARIANT*, SAFEARRAY**), GetNames);
  HK_NOT_IMPLEMENTED((LONG), BeginEnumeration);
  HK_NOT_IMPLEMENTED((LONG), BeginMethodEnumeration);
  HK_NOT_IMPLEMENTED((LONG, BSTR*, VARIANT*, CIMTYPE*, LONG*), Next);
  HK_NOT_IMPLEMENTED((), EndEnumeration);
  HK_NOT_IMPLEMENTED((), EndMethodEnumeration);
  HK_NOT_IMPLEMENTED((LPCWSTR, IWbemQualifierSet**), GetPropertyQualifierSet);
  HK_NOT_IMPLEMENTED((LPCWSTR, IWbemQualifierSet**), GetMethodQualifierSet);
  HK_NOT_IMPLEMENTED((IWbemClassObject**), Clone);
  HK_NOT_IMPLEMENTED((LONG, BSTR*), GetObjectText);
  HK_NOT_IMPLEMENTED((LONG, IWbemClassObject**), SpawnDerivedClass);
  HK_NOT_IMPLEMENTED((LONG, IWbemClassObject**), SpawnInstance);
  HK_NOT_IMPLEMENTED((LONG, IWbemClassObject*), CompareTo);
  HK_NOT_IMPLEMENTED((LPCWSTR, BSTR*), GetPropertyOrigin);
  HK_NOT_IMPLEMENTED((LPCWSTR, BSTR*), GetMethodOrigin);
  HK_NOT_IMPLEMENTED((LPCWSTR, LONG, IWbemClassObject**, IWbemClassObject**), GetMethod);
  HK_NOT_IMPLEMENTED((LPCWSTR, LONG, IWbemClassObject*, IWbemClassObject*), PutMethod);
  HK_NOT_IMPLEMENTED((LONG, BSTR*, IWbemClassObject**, IWbemClassObject**), NextMethod);

 private:
  FakeRow row_;
};

class FakeEnumerator final : public IEnumWbemClassObject, public FakeObject {
 public:
  FakeEnumerator(FakeWmi& world, const FakeResults& results) : FakeObject(world), steps_(results.steps) {}
  HK_FAKE_IUNKNOWN(IEnumWbemClassObject)

  HRESULT STDMETHODCALLTYPE Next(LONG timeout, ULONG count, IWbemClassObject** objects, ULONG* returned) override {
    if (!Touch()) return E_UNEXPECTED;
    if (!objects || !returned || count != 1) return WBEM_E_INVALID_PARAMETER;
    *objects = nullptr;
    *returned = 0;
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
  }

  HK_NOT_IMPLEMENTED((), Reset);
  HK_NOT_IMPLEMENTED((ULONG, IWbemObjectSink*), NextAsync);
  HK_NOT_IMPLEMENTED((IEnumWbemClassObject**), Clone);
  HK_NOT_IMPLEMENTED((LONG, ULONG), Skip);

 private:
  std::deque<FakeResults::Step> steps_;
  size_t next_ = 0;
};

class FakeServices final : public IWbemServices, public IClientSecurity, public FakeObject {
 public:
  explicit FakeServices(FakeWmi& world) : FakeObject(world) {}
  HK_FAKE_IUNKNOWN(IWbemServices, IClientSecurity)

  HRESULT STDMETHODCALLTYPE SetBlanket(IUnknown*, DWORD authn_service, DWORD authz_service, OLECHAR* server_principal,
                                       DWORD authn_level, DWORD imp_level, void* auth_info,
                                       DWORD capabilities) override {
    if (!Touch()) return E_UNEXPECTED;
    world_.blankets_.push_back({authn_service, authz_service, authn_level, imp_level, capabilities,
                                server_principal != nullptr, auth_info != nullptr});
    return world_.failures_[FakeWmiStep::kSetBlanket];
  }
  HK_NOT_IMPLEMENTED((IUnknown*, DWORD*, DWORD*, OLECHAR**, DWORD*, DWORD*, void**, DWORD*), QueryBlanket);
  HK_NOT_IMPLEMENTED((IUnknown*, IUnknown**), CopyProxy);

  HRESULT STDMETHODCALLTYPE ExecQuery(const BSTR language, const BSTR query, LONG flags, IWbemContext*,
                                      IEnumWbemClassObject** enumerator) override {
    if (!Touch()) return E_UNEXPECTED;
    if (!enumerator) return WBEM_E_INVALID_PARAMETER;
    *enumerator = nullptr;
    world_.queries_.push_back({language, query, flags});
    auto found = world_.results_.find(query);
    if (found == world_.results_.end()) found = world_.results_.find(L"");
    const FakeResults& results = found == world_.results_.end() ? FakeResults() : found->second;
    if (FAILED(results.exec_result)) return results.exec_result;
    *enumerator = world_.Make<FakeEnumerator>(results);
    return WBEM_S_NO_ERROR;
  }

  HK_NOT_IMPLEMENTED((const BSTR, LONG, IWbemContext*, IWbemServices**, IWbemCallResult**), OpenNamespace);
  HK_NOT_IMPLEMENTED((IWbemObjectSink*), CancelAsyncCall);
  HK_NOT_IMPLEMENTED((LONG, IWbemObjectSink**), QueryObjectSink);
  HK_NOT_IMPLEMENTED((const BSTR, LONG, IWbemContext*, IWbemClassObject**, IWbemCallResult**), GetObject);
  HK_NOT_IMPLEMENTED((const BSTR, LONG, IWbemContext*, IWbemObjectSink*), GetObjectAsync);
  HK_NOT_IMPLEMENTED((const BSTR, LONG, IWbemContext*, IWbemObjectSink*), DeleteClassAsync);
  HK_NOT_IMPLEMENTED((const BSTR, LONG, IWbemContext*, IWbemObjectSink*), CreateClassEnumAsync);
  HK_NOT_IMPLEMENTED((const BSTR, LONG, IWbemContext*, IWbemObjectSink*), DeleteInstanceAsync);
  HK_NOT_IMPLEMENTED((const BSTR, LONG, IWbemContext*, IWbemObjectSink*), CreateInstanceEnumAsync);
  HK_NOT_IMPLEMENTED((IWbemClassObject*, LONG, IWbemContext*, IWbemCallResult**), PutClass);
  HK_NOT_IMPLEMENTED((IWbemClassObject*, LONG, IWbemContext*, IWbemCallResult**), PutInstance);
  HK_NOT_IMPLEMENTED((IWbemClassObject*, LONG, IWbemContext*, IWbemObjectSink*), PutClassAsync);
  HK_NOT_IMPLEMENTED((IWbemClassObject*, LONG, IWbemContext*, IWbemObjectSink*), PutInstanceAsync);
  HK_NOT_IMPLEMENTED((const BSTR, LONG, IWbemContext*, IWbemCallResult**), DeleteClass);
  HK_NOT_IMPLEMENTED((const BSTR, LONG, IWbemContext*, IWbemCallResult**), DeleteInstance);
  HK_NOT_IMPLEMENTED((const BSTR, LONG, IWbemContext*, IEnumWbemClassObject**), CreateClassEnum);
  HK_NOT_IMPLEMENTED((const BSTR, LONG, IWbemContext*, IEnumWbemClassObject**), CreateInstanceEnum);
  HK_NOT_IMPLEMENTED((const BSTR, const BSTR, LONG, IWbemContext*, IWbemObjectSink*), ExecQueryAsync);
  HK_NOT_IMPLEMENTED((const BSTR, const BSTR, LONG, IWbemContext*, IWbemObjectSink*), ExecNotificationQueryAsync);
  HK_NOT_IMPLEMENTED((const BSTR, const BSTR, LONG, IWbemContext*, IEnumWbemClassObject**), ExecNotificationQuery);
  HK_NOT_IMPLEMENTED((const BSTR, const BSTR, LONG, IWbemContext*, IWbemClassObject*, IWbemClassObject**,
                      IWbemCallResult**),
                     ExecMethod);
  HK_NOT_IMPLEMENTED((const BSTR, const BSTR, LONG, IWbemContext*, IWbemClassObject*, IWbemObjectSink*),
                     ExecMethodAsync);
};

class FakeLocator final : public IWbemLocator, public FakeObject {
 public:
  explicit FakeLocator(FakeWmi& world) : FakeObject(world) {}
  HK_FAKE_IUNKNOWN(IWbemLocator)

  HRESULT STDMETHODCALLTYPE ConnectServer(const BSTR resource, const BSTR, const BSTR, const BSTR, LONG, const BSTR,
                                          IWbemContext*, IWbemServices** services) override {
    if (!Touch()) return E_UNEXPECTED;
    if (!services) return WBEM_E_INVALID_PARAMETER;
    *services = nullptr;
    world_.connects_.push_back(resource);
    const HRESULT failure = world_.failures_[FakeWmiStep::kConnectServer];
    if (FAILED(failure)) return failure;
    *services = world_.Make<FakeServices>();
    return WBEM_S_NO_ERROR;
  }
};

template <typename T, typename... Args>
T* FakeWmi::Make(Args&&... args) {
  return static_cast<T*>(objects_.emplace_back(std::make_unique<T>(*this, std::forward<Args>(args)...)).get());
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
  const HRESULT failure = g_current->failures_[FakeWmiStep::kCreateLocator];
  if (FAILED(failure)) return failure;
  *locator = g_current->Make<FakeLocator>();
  return S_OK;
}

int FakeWmi::ObjectsAlive() const {
  return static_cast<int>(std::count_if(objects_.begin(), objects_.end(), [](auto& o) { return o->refs() > 0; }));
}

std::string FakeWmi::Accounting() const {
  return "objects made " + std::to_string(objects_.size()) + ", alive " + std::to_string(ObjectsAlive()) +
         ", over-releases " + std::to_string(over_releases_) + ", calls after release " +
         std::to_string(calls_after_release_);
}

}  // namespace hk::test
