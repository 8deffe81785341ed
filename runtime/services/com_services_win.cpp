#include <windows.h>
#include <ole2.h>
#include <oleauto.h>

#include <cwctype>
#include <memory>
#include <string>
#include <utility>

#include "runtime/value/codepage.h"
#include "runtime/services/com_services.h"

namespace rt {

// ---- the object variable ------------------------------------------------

ComObject::ComObject(const ComObject& other) : p_(other.p_) {
  if (p_) p_->AddRef();
}
ComObject::ComObject(ComObject&& other) noexcept : p_(std::exchange(other.p_, nullptr)) {}
ComObject& ComObject::operator=(const ComObject& other) {
  if (other.p_) other.p_->AddRef();
  clear();
  p_ = other.p_;
  return *this;
}
ComObject& ComObject::operator=(ComObject&& other) noexcept {
  if (this != &other) {
    clear();
    p_ = std::exchange(other.p_, nullptr);
  }
  return *this;
}
ComObject::~ComObject() { clear(); }

ComObject ComObject::adopt(IDispatch* object) {
  ComObject o;
  o.p_ = object;
  return o;
}

void ComObject::clear() {
  if (IDispatch* p = std::exchange(p_, nullptr)) p->Release();
}

namespace {

// IID_NULL (all zeros) without libuuid's table of identifiers.
const IID kNullId{};

// A VARIANT that clears itself.
struct Variant {
  VARIANT v;
  Variant() { VariantInit(&v); }
  Variant(const Variant&) = delete;
  Variant(Variant&& other) noexcept : v(other.v) { VariantInit(&other.v); }
  ~Variant() { VariantClear(&v); }
};

// Runtime value -> VARIANT, as the automation table says; false for a kind
// that has no VARIANT (the empty value).
bool to_variant(const ComValue& value, VARIANT& v) {
  struct Visitor {
    VARIANT& v;
    bool operator()(std::monostate) const { return false; }
    bool operator()(bool b) const {
      v.vt = VT_BOOL;
      v.boolVal = b ? VARIANT_TRUE : VARIANT_FALSE;
      return true;
    }
    bool operator()(Date d) const {
      v.vt = VT_DATE;
      v.date = d.days;
      return true;
    }
    bool operator()(const Text& t) const {
      v.vt = VT_BSTR;
      std::wstring w = wide_path(t.view());
      v.bstrVal = SysAllocStringLen(w.data(), static_cast<UINT>(w.size()));
      return v.bstrVal != nullptr;
    }
    bool operator()(std::uint8_t b) const {
      v.vt = VT_UI1;
      v.bVal = b;
      return true;
    }
    bool operator()(std::int16_t s) const {
      v.vt = VT_I2;
      v.iVal = s;
      return true;
    }
    bool operator()(std::int32_t i) const {
      v.vt = VT_I4;
      v.lVal = i;
      return true;
    }
    bool operator()(std::int64_t i) const {  // automation servers of this era take 32 bits
      v.vt = VT_I4;
      v.lVal = static_cast<LONG>(static_cast<std::uint32_t>(i));
      return true;
    }
    bool operator()(float f) const {
      v.vt = VT_R4;
      v.fltVal = f;
      return true;
    }
    bool operator()(double d) const {
      v.vt = VT_R8;
      v.dblVal = d;
      return true;
    }
    bool operator()(const ComObject& o) const {
      v.vt = VT_DISPATCH;
      v.pdispVal = o.get();
      if (v.pdispVal) v.pdispVal->AddRef();
      return true;
    }
  };
  return std::visit(Visitor{v}, value);
}

ComValue from_variant(VARIANT& v) {
  switch (v.vt) {
    case VT_EMPTY:
    case VT_NULL:
      return std::monostate{};
    case VT_BOOL:
      return v.boolVal != VARIANT_FALSE;
    case VT_DATE:
      return Date{v.date};
    case VT_BSTR:
      return Text(cp936_from_wide(std::u16string_view(reinterpret_cast<const char16_t*>(v.bstrVal),
                                                      SysStringLen(v.bstrVal))));
    case VT_UI1:
      return static_cast<std::uint8_t>(v.bVal);
    case VT_I2:
      return static_cast<std::int16_t>(v.iVal);
    case VT_I4:
      return static_cast<std::int32_t>(v.lVal);
    case VT_I8:
      return static_cast<std::int64_t>(v.llVal);
    case VT_R4:
      return v.fltVal;
    case VT_R8:
      return v.dblVal;
    case VT_DISPATCH:
      if (v.pdispVal) v.pdispVal->AddRef();
      return ComObject::adopt(v.pdispVal);
    case VT_UNKNOWN: {
      IDispatch* d = nullptr;
      if (v.punkVal) v.punkVal->QueryInterface(__uuidof(IDispatch), reinterpret_cast<void**>(&d));
      return ComObject::adopt(d);
    }
    default:
      break;
  }
  // The other number kinds widen to what the runtime has; anything else
  // that the system can show as a text becomes that text.
  Variant converted;
  if (SUCCEEDED(VariantChangeType(&converted.v, &v, 0, VT_I4))) return static_cast<std::int32_t>(converted.v.lVal);
  if (SUCCEEDED(VariantChangeType(&converted.v, &v, 0, VT_R8))) return converted.v.dblVal;
  if (SUCCEEDED(VariantChangeType(&converted.v, &v, 0, VT_BSTR))) return from_variant(converted.v);
  return std::monostate{};
}

bool find_member(IDispatch* object, const Text& member, DISPID& id) {
  std::wstring name = wide_path(member.view());
  LPOLESTR names[1] = {name.data()};
  return SUCCEEDED(object->GetIDsOfNames(kNullId, names, 1, GetUserDefaultLCID(), &id));
}

// Invokes `id` with the arguments (given in call order) as `kind`.
HRESULT invoke(IDispatch* object, DISPID id, WORD kind, std::vector<Variant>& arguments, VARIANT* result) {
  // DISPPARAMS lists arguments last first.
  std::vector<VARIANT> reversed;
  for (auto it = arguments.rbegin(); it != arguments.rend(); ++it) reversed.push_back(it->v);
  DISPID put_id = DISPID_PROPERTYPUT;
  DISPPARAMS params{};
  params.rgvarg = reversed.empty() ? nullptr : reversed.data();
  params.cArgs = static_cast<UINT>(reversed.size());
  if (kind == DISPATCH_PROPERTYPUT || kind == DISPATCH_PROPERTYPUTREF) {
    params.rgdispidNamedArgs = &put_id;
    params.cNamedArgs = 1;
  }
  EXCEPINFO exception{};
  UINT bad_argument = 0;
  HRESULT hr = object->Invoke(id, kNullId, GetUserDefaultLCID(), kind, &params, result, &exception, &bad_argument);
  SysFreeString(exception.bstrSource);
  SysFreeString(exception.bstrDescription);
  SysFreeString(exception.bstrHelpFile);
  return hr;
}

bool to_variants(const std::vector<ComValue>& values, std::vector<Variant>& out) {
  out.resize(values.size());
  for (std::size_t i = 0; i < values.size(); ++i)
    if (!to_variant(values[i], out[i].v)) return false;
  return true;
}

// Tries each way of reaching the member in turn; the first that succeeds wins.
bool invoke_first(const ComObject& object, const Text& member, std::initializer_list<WORD> kinds,
                  const std::vector<ComValue>& values, VARIANT* result) {
  DISPID id = 0;
  std::vector<Variant> arguments;
  if (object.empty() || !find_member(object.get(), member, id) || !to_variants(values, arguments)) return false;
  for (WORD kind : kinds) {
    bool is_put = kind == DISPATCH_PROPERTYPUT || kind == DISPATCH_PROPERTYPUTREF;
    if (is_put && arguments.empty()) continue;
    if (result) VariantClear(result);
    if (SUCCEEDED(invoke(object.get(), id, kind, arguments, is_put ? nullptr : result))) return true;
  }
  return false;
}

std::wstring lower(std::wstring s) {
  for (wchar_t& c : s) c = static_cast<wchar_t>(std::towlower(c));
  return s;
}

// The coclass of that name in the type library, created through its type
// information.
IDispatch* create_from_type_library(const Text& class_name, const Text& type_library) {
  std::wstring path = wide_path(type_library.view());
  REGKIND kind = path.find(L'\\') != std::wstring::npos ? REGKIND_REGISTER : REGKIND_NONE;
  ITypeLib* raw_library = nullptr;
  if (FAILED(LoadTypeLibEx(path.c_str(), kind, &raw_library))) return nullptr;
  ComPtr<ITypeLib> library(raw_library);
  std::wstring wanted = lower(wide_path(class_name.view()));
  UINT count = library->GetTypeInfoCount();
  for (UINT i = 0; i < count; ++i) {
    TYPEKIND type_kind;
    if (FAILED(library->GetTypeInfoType(i, &type_kind)) || type_kind != TKIND_COCLASS) continue;
    BSTR name = nullptr;
    if (FAILED(library->GetDocumentation(static_cast<INT>(i), &name, nullptr, nullptr, nullptr))) continue;
    bool match = name && lower(std::wstring(name, SysStringLen(name))) == wanted;
    SysFreeString(name);
    if (!match) continue;
    ITypeInfo* raw_info = nullptr;
    if (FAILED(library->GetTypeInfo(i, &raw_info))) return nullptr;
    ComPtr<ITypeInfo> info(raw_info);
    IDispatch* object = nullptr;
    if (FAILED(info->CreateInstance(nullptr, __uuidof(IDispatch), reinterpret_cast<void**>(&object)))) return nullptr;
    return object;
  }
  return nullptr;
}

IDispatch* create_from_class_id(const Text& class_name) {
  std::wstring name = wide_path(class_name.view());
  CLSID id;
  HRESULT hr = name.starts_with(L"{") ? CLSIDFromString(name.c_str(), &id) : CLSIDFromProgID(name.c_str(), &id);
  if (FAILED(hr)) return nullptr;
  IDispatch* object = nullptr;
  // In-process, handler, local and remote servers; some systems refuse the
  // remote flag with E_INVALIDARG, so ask again without it.
  hr = CoCreateInstance(id, nullptr, CLSCTX_INPROC_SERVER | CLSCTX_INPROC_HANDLER | CLSCTX_LOCAL_SERVER |
                                         CLSCTX_REMOTE_SERVER,
                        __uuidof(IDispatch), reinterpret_cast<void**>(&object));
  if (hr == E_INVALIDARG)
    hr = CoCreateInstance(id, nullptr, CLSCTX_INPROC_SERVER | CLSCTX_INPROC_HANDLER | CLSCTX_LOCAL_SERVER,
                          __uuidof(IDispatch), reinterpret_cast<void**>(&object));
  return SUCCEEDED(hr) ? object : nullptr;
}

}  // namespace

bool com_create(ComObject& object, const Text& class_name, const Text& type_library) {
  object.clear();
  IDispatch* created = nullptr;
  if (!type_library.empty() && !class_name.view().starts_with("{"))
    created = create_from_type_library(class_name, type_library);
  if (!created) created = create_from_class_id(class_name);
  if (!created) return false;
  OleRun(created);
  object = ComObject::adopt(created);
  return true;
}

ComValue com_call_method(const ComObject& object, const Text& member, const std::vector<ComValue>& arguments,
                         bool* succeeded) {
  Variant result;
  bool ok = invoke_first(object, member,
                         {DISPATCH_METHOD, DISPATCH_PROPERTYGET, DISPATCH_PROPERTYPUT, DISPATCH_PROPERTYPUTREF},
                         arguments, &result.v);
  if (succeeded) *succeeded = ok;
  return ok ? from_variant(result.v) : ComValue();
}

bool com_set_property(const ComObject& object, const Text& member, const ComValue& value) {
  Variant result;
  return invoke_first(object, member, {DISPATCH_PROPERTYPUT, DISPATCH_PROPERTYPUTREF, DISPATCH_METHOD}, {value},
                      &result.v);
}

bool com_is_empty(const ComObject& object) { return object.empty(); }

void com_assign(ComObject& target, const ComObject& source) { target = source; }

void com_clear(ComObject& object) { object.clear(); }

}  // namespace rt
